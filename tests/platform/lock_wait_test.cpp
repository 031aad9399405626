// Conformance of waiting lock requests: pending on an overlapped handle,
// granted when the conflict goes away (unlock, close, another process),
// cancelled by CloseHandle and CancelIoEx, blocking on a synchronous handle,
// and two processes each waiting on the other's byte.
//
// Wine never completes such a request (see kWineLockWaitNeverCompletes):
// under Wine these tests check that it stays pending and stop there.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "file_test_util.h"
#include "support/child.h"
#include "support/temp_dir.h"

namespace {

constexpr DWORD kHangBoundMs = 10000;  // a bound against hangs, not a speed requirement

struct Handles {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE a = open_file(path, kReadWrite, kShareAll, CREATE_NEW);
  HANDLE b = open_file(path, kReadWrite, kShareAll, OPEN_EXISTING);
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);  // manual: stays set for the checks
  ~Handles() {
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(event);
  }
};

// Starts a waiting exclusive lock of `offset` in *ov and checks that it is
// pending: FALSE, ERROR_IO_PENDING, Internal STATUS_PENDING (Wine: untouched),
// the event clear and GetOverlappedResult answering ERROR_IO_INCOMPLETE.
void start_waiting(HANDLE file, uint64_t offset, HANDLE event, OVERLAPPED* ov) {
  *ov = record_at(offset, event);
  EXPECT_FALSE(LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, ov));
  ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
  if (on_wine()) {
    EXPECT_EQ(0u, ov->Internal) << kWineLockWaitNeverCompletes;
    return;
  }
  EXPECT_EQ(STATUS_PENDING, ov->Internal);
  if (event) {
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));
  }
  DWORD n;
  EXPECT_FALSE(GetOverlappedResult(file, ov, &n, FALSE));
  EXPECT_EQ(ERROR_IO_INCOMPLETE, GetLastError());
}

// After the conflict went away: the request completes with success (Wine:
// it stays as it was).  False under Wine, so that the caller stops there.
bool expect_granted(HANDLE file, HANDLE event, OVERLAPPED* ov) {
  if (on_wine()) {
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 300)) << kWineLockWaitNeverCompletes;
    EXPECT_EQ(0u, ov->Internal);
    return false;
  }
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, kHangBoundMs));
  EXPECT_EQ(0u, ov->Internal);
  DWORD n;
  EXPECT_TRUE(GetOverlappedResult(file, ov, &n, FALSE));
  return true;
}

// args: path, offset, ready file, release file.  Holds an exclusive lock of
// one byte until the release file appears.
ZARN_CHILD(wait_hold) {
  HANDLE h = open_file(args[0], kReadWrite, kShareAll, OPEN_ALWAYS);
  DWORD error = lock_range(h, std::stoull(args[1]), true, true);
  touch_file(args[2]);
  wait_for_file(args[3], 60000);
  CloseHandle(h);
  return static_cast<int>(error);
}

// args: path, folder for the hand-shake files.  Holds byte 1, waits for
// byte 0 (which the parent holds), releases byte 1; exits 0 once its own
// wait was granted, 20 if it never was.
ZARN_CHILD(wait_cross) {
  auto file = [&](const char* name) { return args[1] + ZARN_PATH_SEPARATOR + name; };
  HANDLE h = open_file(args[0], kReadWrite, kShareAll, OPEN_EXISTING);
  if (lock_range(h, 1, true, true) != 0) return 10;
  touch_file(file("child_locked"));
  if (!wait_for_file(file("parent_waiting"), 20000)) return 11;
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
  OVERLAPPED ov = record_at(0, event);
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov) || GetLastError() != ERROR_IO_PENDING) return 12;
  touch_file(file("child_waiting"));
  if (unlock_range(h, 1) != 0) return 13;
  DWORD n;
  bool granted = WaitForSingleObject(event, on_wine() ? 300 : kHangBoundMs) == WAIT_OBJECT_0 &&
                 GetOverlappedResult(h, &ov, &n, FALSE);
  CloseHandle(h);
  CloseHandle(event);
  return granted ? 0 : 20;
}

TEST(LockWait, GrantedWhenTheHolderUnlocks) {
  Handles f;
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  OVERLAPPED ov;
  start_waiting(f.b, 0, f.event, &ov);
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  if (!expect_granted(f.b, f.event, &ov)) return;
  EXPECT_EQ(ERROR_LOCK_VIOLATION, lock_range(f.a, 0, false, true));  // b holds it now
  EXPECT_EQ(0u, unlock_range(f.b, 0));
}

TEST(LockWait, GrantedWhenTheHolderClosesAndSharedWaitersTogether) {
  Handles f;
  HANDLE c = open_file(f.path, kReadWrite, kShareAll, OPEN_EXISTING);
  HANDLE event_c = CreateEventA(NULL, TRUE, FALSE, NULL);
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  OVERLAPPED ov_b = record_at(0, f.event), ov_c = record_at(0, event_c);
  EXPECT_EQ(ERROR_IO_PENDING, lock_range(f.b, 0, false, false, 1, &ov_b));
  EXPECT_EQ(ERROR_IO_PENDING, lock_range(c, 0, false, false, 1, &ov_c));
  CloseHandle(f.a);
  f.a = INVALID_HANDLE_VALUE;
  if (expect_granted(f.b, f.event, &ov_b) && expect_granted(c, event_c, &ov_c)) {
    EXPECT_EQ(ERROR_LOCK_VIOLATION, lock_range(f.b, 0, true, true));
  }
  CloseHandle(c);
  CloseHandle(event_c);
}

TEST(LockWait, GrantedWhenAnotherProcessReleases) {
  Handles f;
  Child child;
  ASSERT_TRUE(start_child("wait_hold", {f.path, "0", f.dir.file("ready"), f.dir.file("release")}, &child));
  ASSERT_TRUE(wait_for_file(f.dir.file("ready"), 20000));
  OVERLAPPED ov;
  start_waiting(f.b, 0, f.event, &ov);
  touch_file(f.dir.file("release"));
  EXPECT_EQ(0, wait_child(&child, 20000));
  expect_granted(f.b, f.event, &ov);
}

TEST(LockWait, GetOverlappedResultWaitsForTheGrant) {
  Handles f;
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  OVERLAPPED ov;
  start_waiting(f.b, 0, NULL, &ov);  // no event: the result call is the only wait
  if (on_wine()) return;  // would wait for ever
  std::thread releaser([&] {
    Sleep(50);
    unlock_range(f.a, 0);
  });
  DWORD n = 1;
  EXPECT_TRUE(GetOverlappedResult(f.b, &ov, &n, TRUE));
  EXPECT_EQ(0u, n);
  releaser.join();
}

TEST(LockWait, SynchronousHandleBlocksUntilGranted) {
  Handles f;
  HANDLE sync = open_file(f.path, kReadWrite, kShareAll, OPEN_EXISTING, false);
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = static_cast<int>(lock_range(sync, 0, true, false)); });
  Sleep(100);
  EXPECT_EQ(-1, result.load());  // still blocked
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  EXPECT_TRUE(eventually([&] { return result.load() != -1; }));
  if (result.load() == -1) {
    CloseHandle(sync);  // lets the thread go
  }
  waiter.join();
  EXPECT_EQ(0, result.load());
  EXPECT_EQ(ERROR_LOCK_VIOLATION, lock_range(f.a, 0, false, true));
  CloseHandle(sync);
}

TEST(LockWait, CloseHandleCancelsItsWaitingRequests) {
  Handles f;
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  OVERLAPPED ov;
  start_waiting(f.b, 0, f.event, &ov);
  EXPECT_TRUE(CloseHandle(f.b));
  f.b = INVALID_HANDLE_VALUE;
  if (on_wine()) {
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(f.event, 300)) << kWineLockWaitNeverCompletes;
  } else {
    // Ended without the lock: the record is final and the event set.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(f.event, kHangBoundMs));
    EXPECT_NE(STATUS_PENDING, ov.Internal);
    EXPECT_NE(0u, ov.Internal);
  }
  // The cancelled request never takes the byte.
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  HANDLE c = open_file(f.path, kReadWrite, kShareAll, OPEN_EXISTING);
  EXPECT_EQ(0u, lock_range(c, 0, true, true));
  CloseHandle(c);
}

TEST(LockWait, CancelIoExEndsTheNamedOrAllRequests) {
  Handles f;
  HANDLE event2 = CreateEventA(NULL, TRUE, FALSE, NULL);
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true, 2));
  OVERLAPPED ov1, ov2;
  start_waiting(f.b, 0, f.event, &ov1);
  start_waiting(f.b, 1, event2, &ov2);
  DWORD n;
  if (on_wine()) {
    // Nothing is queued for Wine to cancel.
    EXPECT_FALSE(CancelIoEx(f.b, &ov1)) << kWineLockWaitNeverCompletes;
    EXPECT_EQ(ERROR_NOT_FOUND, GetLastError());
  } else {
    EXPECT_TRUE(CancelIoEx(f.b, &ov1));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(f.event, kHangBoundMs));
    EXPECT_FALSE(GetOverlappedResult(f.b, &ov1, &n, TRUE));
    EXPECT_EQ(ERROR_OPERATION_ABORTED, GetLastError());
    EXPECT_FALSE(GetOverlappedResult(f.b, &ov2, &n, FALSE));  // the other still waits
    EXPECT_EQ(ERROR_IO_INCOMPLETE, GetLastError());
    EXPECT_FALSE(CancelIoEx(f.b, &ov1));
    EXPECT_EQ(ERROR_NOT_FOUND, GetLastError());
    EXPECT_TRUE(CancelIoEx(f.b, NULL));
    EXPECT_FALSE(GetOverlappedResult(f.b, &ov2, &n, TRUE));
    EXPECT_EQ(ERROR_OPERATION_ABORTED, GetLastError());
    EXPECT_FALSE(CancelIoEx(f.b, NULL));
    EXPECT_EQ(ERROR_NOT_FOUND, GetLastError());
  }
  // Neither cancelled request takes its byte later.
  EXPECT_EQ(0u, unlock_range(f.a, 0, 2));
  EXPECT_EQ(0u, lock_range(f.a, 0, true, true, 2));
  CloseHandle(event2);
}

TEST(LockWait, EventHandleClosedWhileWaitingIsHarmless) {
  Handles f;
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
  OVERLAPPED ov;
  start_waiting(f.b, 0, event, &ov);
  CloseHandle(event);
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  if (on_wine()) return;  // kWineLockWaitNeverCompletes
  DWORD n;
  EXPECT_TRUE(eventually([&] { return GetOverlappedResult(f.b, &ov, &n, FALSE) != FALSE; }));
}

TEST(LockWait, TwoProcessesEachWaitingOnTheOthersByte) {
  Handles f;
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  Child child;
  ASSERT_TRUE(start_child("wait_cross", {f.path, f.dir.path()}, &child));
  ASSERT_TRUE(wait_for_file(f.dir.file("child_locked"), 20000));
  OVERLAPPED ov;
  start_waiting(f.a, 1, f.event, &ov);
  touch_file(f.dir.file("parent_waiting"));
  ASSERT_TRUE(wait_for_file(f.dir.file("child_waiting"), 20000));
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  bool granted = expect_granted(f.a, f.event, &ov);
  EXPECT_EQ(granted ? 0 : 20, wait_child(&child, 20000));
}

}  // namespace
