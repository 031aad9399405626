// The quiet lock primitives on byte 0 of a check file.
#include "fileops/fileops.h"

int try_lock(HANDLE file, int exclusive, OVERLAPPED* record) {
  // Always a waiting request: a conflict queues it instead of refusing it.
  const DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (LockFileEx(file, flags, 0, 1, 0, record)) return kOpOk;
  return GetLastError() == ERROR_IO_PENDING ? kOpPending : kOpFailed;
}

int unlock_byte(HANDLE file) {
  OVERLAPPED record = {};
  return UnlockFileEx(file, 0, 1, 0, &record) ? kOpOk : kOpFailed;
}
