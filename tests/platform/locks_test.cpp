// Conformance of byte-range locks between handles of one process and of
// waiting requests: granted, ended by CloseHandle and CancelIoEx.
#include "helpers.h"

namespace {

constexpr DWORD kViolation = ERROR_LOCK_VIOLATION;
constexpr const char* kWineLockWait =
    "Wine deviation: a waiting LockFileEx never completes and leaves OVERLAPPED.Internal untouched";

// Two overlapped handles on one new file, both sharing everything.
struct TwoHandles {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE a = open_file(path, kRW, kShareAll, CREATE_NEW);
  HANDLE b = open_file(path, kRW, kShareAll, OPEN_EXISTING);
  ~TwoHandles() { CloseHandle(a); CloseHandle(b); }
};

// Every pairing of shared and exclusive between two handles, and the
// neighbouring byte free, comes up in the sequence below.
TEST(Locks, BetweenHandlesOfOneProcess) {
  // Wine deviation: an unlock of a range not held gives 33, not ERROR_NOT_LOCKED.
  const DWORD not_locked = on_wine() ? kViolation : ERROR_NOT_LOCKED;
  TwoHandles f;
  ASSERT_EQ(0u, lock(f.a, 'x', 0));
  EXPECT_EQ(kViolation, lock(f.a, 'x', 0));  // exclusive over its own lock
  EXPECT_EQ(0u, lock(f.a, 's', 0));          // shared stacks on it...
  EXPECT_EQ(0u, lock(f.a, 'u', 0));          // ... and the exclusive goes first
  EXPECT_EQ(0u, lock(f.b, 's', 0));
  EXPECT_EQ(kViolation, lock(f.b, 'x', 0));
  EXPECT_EQ(0u, lock(f.a, 'u', 0));
  EXPECT_EQ(not_locked, lock(f.a, 'u', 0));
  EXPECT_EQ(0u, lock(f.b, 's', 0));  // shared locks of one handle stack and count
  EXPECT_EQ(0u, lock(f.b, 'u', 0));
  EXPECT_EQ(kViolation, lock(f.a, 'x', 0));
  EXPECT_EQ(0u, lock(f.b, 'u', 0));
  EXPECT_EQ(0u, lock(f.a, 'x', 0));

  ASSERT_EQ(0u, lock(f.a, 'x', 10, 4));
  EXPECT_EQ(not_locked, lock(f.a, 'u', 10, 1));  // part of it
  EXPECT_EQ(not_locked, lock(f.a, 'u', 11, 4));  // overlapping it
  EXPECT_EQ(not_locked, lock(f.b, 'u', 10, 4));  // another handle's
  EXPECT_EQ(kViolation, lock(f.b, 's', 12));

  HANDLE c = open_file(f.path, kRW, kShareAll, OPEN_EXISTING);
  ASSERT_EQ(0u, lock(c, 'x', 20));
  ASSERT_TRUE(CloseHandle(f.a));  // drops its locks, and only its own
  f.a = INVALID_HANDLE_VALUE;
  for (uint64_t offset : {0, 12}) EXPECT_EQ(0u, lock(f.b, 'x', offset));
  EXPECT_EQ(kViolation, lock(f.b, 'x', 20));
  CloseHandle(c);
}

// Starts a waiting exclusive request of `offset` in *ov, which must pend.
void start_waiting(HANDLE file, uint64_t offset, OVERLAPPED* ov) {
  ov->hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  ASSERT_EQ(ERROR_IO_PENDING, lock(file, 'x', offset, 1, ov));
  if (on_wine()) return;
  EXPECT_EQ(STATUS_PENDING, ov->Internal);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(ov->hEvent, 0));
  DWORD n;
  EXPECT_EQ(ERROR_IO_INCOMPLETE, error_of(GetOverlappedResult(file, ov, &n, FALSE)));
}

// The request ends with `error` (0: granted); false under Wine, where it stays.
bool expect_ended(HANDLE file, OVERLAPPED* ov, DWORD error = 0) {
  bool wine = on_wine();
  EXPECT_EQ(wine ? WAIT_TIMEOUT : WAIT_OBJECT_0, WaitForSingleObject(ov->hEvent, wine ? 300 : kLong)) << kWineLockWait;
  DWORD n;
  EXPECT_EQ(wine ? 0 : error, wine ? DWORD(ov->Internal) : error_of(GetOverlappedResult(file, ov, &n, FALSE)));
  return !wine;
}

TEST(LockWait, GrantedOnReleaseOrEndedByCloseHandleAndCancelIoEx) {
  TwoHandles f;
  HANDLE c = open_file(f.path, kRW, kShareAll, OPEN_EXISTING);
  ASSERT_EQ(0u, lock(f.a, 'x', 0, 3));
  OVERLAPPED closed, cancelled, granted;
  start_waiting(c, 0, &closed);
  start_waiting(f.b, 1, &cancelled);
  start_waiting(f.b, 2, &granted);
  EXPECT_TRUE(CloseHandle(c));
  if (on_wine()) {  // nothing is queued for Wine to cancel
    EXPECT_EQ(ERROR_NOT_FOUND, error_of(CancelIoEx(f.b, &cancelled))) << kWineLockWait;
  } else {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(closed.hEvent, kLong));
    EXPECT_NE(STATUS_PENDING, closed.Internal);
    EXPECT_NE(0u, closed.Internal);
    EXPECT_TRUE(CancelIoEx(f.b, &cancelled));
    expect_ended(f.b, &cancelled, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(ERROR_NOT_FOUND, error_of(CancelIoEx(f.b, &cancelled)));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(granted.hEvent, 0));  // the other still waits
  }
  EXPECT_EQ(0u, lock(f.a, 'u', 0, 3));
  EXPECT_TRUE(!expect_ended(f.b, &granted) || lock(f.a, 's', 2) == kViolation);  // b holds it now
  EXPECT_EQ(0u, lock(f.a, 'x', 0, 2));  // the ended requests took nothing
  for (OVERLAPPED* ov : {&closed, &cancelled, &granted}) CloseHandle(ov->hEvent);
}

}  // namespace
