// Waiting for an overlapped request under a time limit, by polling.
#include "fileops/fileops.h"

int64_t due_time_of(int32_t timeout_sec) {
  // 64 bits: 600 s is -6,000,000,000, beyond a 32-bit value.
  return static_cast<int64_t>(timeout_sec) * -10000000LL;
}

int wait_overlapped(HANDLE file, OVERLAPPED* record, HANDLE timer, int64_t due_time) {
  LARGE_INTEGER due;
  due.QuadPart = due_time;
  SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
  for (;;) {
    // The request's state is read before the timer, so a completion in the
    // same poll as the time-out wins.
    DWORD transferred = 0;
    if (GetOverlappedResult(file, record, &transferred, FALSE)) return kOpOk;
    if (GetLastError() != ERROR_IO_INCOMPLETE) return kOpFailed;
    if (WaitForSingleObject(timer, 0) == WAIT_OBJECT_0) return kOpTimedOut;
    Sleep(100);
  }
}
