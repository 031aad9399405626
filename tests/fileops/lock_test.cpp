// The lock primitives on real files: two handles of one file conflict like
// two processes, so a second handle plays the other holder.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fileops/fileops.h"
#include "fileops/report_capture.h"
#include "fileops/under_wine.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    const std::string name = dir_.file(".#ZARLOCK.test");
    for (HANDLE* h : {&mine_, &other_}) {
      *h = open_test_file(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
      ASSERT_NE(INVALID_HANDLE_VALUE, *h) << GetLastError();
    }
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    timer_ = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    ASSERT_NE(nullptr, event_);
    ASSERT_NE(nullptr, timer_);
    options_.timeout_sec = 10;
  }
  void TearDown() override {
    close_handle(&mine_);
    close_handle(&other_);
    CloseHandle(event_);
    CloseHandle(timer_);
  }

  // The other holder takes byte 0 exclusively.
  void other_holds_byte() {
    ErrorInfo error = {-1, -1};
    ASSERT_EQ(0, lock_with_timeout(&options_, other_, event_, timer_, 1, 0, &error, 1));
  }

  TempDir dir_;
  RunOptions options_ = {};
  HANDLE mine_ = INVALID_HANDLE_VALUE;
  HANDLE other_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  HANDLE timer_ = nullptr;
};

const char kTimedOutLine[] = "        ! The processing waiting time exceeded the timeout time.\r\n";

TEST_F(LockTest, FreeLocksAreGrantedAtOnceSilently) {
  ReportCapture report(dir_.file("report.log"));
  for (int exclusive : {0, 1}) {
    for (int wait : {0, 1}) {
      ErrorInfo error = {-1, -1};
      EXPECT_EQ(0, lock_with_timeout(&options_, mine_, event_, timer_, exclusive, wait, &error, 1));
      EXPECT_EQ(0, error.code);
      EXPECT_EQ(0, error.system_error);
      error = {-1, -1};
      EXPECT_EQ(0, unlock_with_timeout(&options_, mine_, event_, timer_, &error));
      EXPECT_EQ(0, error.code);
      EXPECT_EQ(0, error.system_error);
    }
  }
  EXPECT_EQ("", report.text());
}

TEST_F(LockTest, NoWaitRefusalIsReportedOnlyWhenAsked) {
  other_holds_byte();
  ReportCapture report(dir_.file("report.log"));

  ErrorInfo untouched = {77, 78};
  EXPECT_EQ(-1, lock_with_timeout(&options_, mine_, event_, timer_, 1, 0, &untouched, 0));
  EXPECT_EQ(77, untouched.code);
  EXPECT_EQ(78, untouched.system_error);
  EXPECT_EQ("", report.text());

  ErrorInfo error = {0, 0};
  EXPECT_EQ(-1, lock_with_timeout(&options_, mine_, event_, timer_, 1, 0, &error, 1));
  EXPECT_EQ(15, error.code);
  EXPECT_EQ(static_cast<int32_t>(ERROR_LOCK_VIOLATION), error.system_error);
  const std::string printed = report.text();
  EXPECT_EQ(0u, printed.find("        ! Failed to obtain an exclusive lock in non-lock waiting "
                             "mode. ERRORCODE=33("))
      << printed;
  EXPECT_EQ(printed.size() - 3, printed.find(")\r\n")) << printed;

  // A shared no-wait lock on an exclusively held byte: code 16.
  EXPECT_EQ(-1, lock_with_timeout(&options_, mine_, event_, timer_, 0, 0, &error, 1));
  EXPECT_EQ(16, error.code);
  EXPECT_EQ(static_cast<int32_t>(ERROR_LOCK_VIOLATION), error.system_error);
}

TEST_F(LockTest, WaitingLockIsGrantedWhenTheOtherHandleUnlocks) {
  other_holds_byte();
  ReportCapture report(dir_.file("report.log"));
  std::thread releaser([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(0, unlock_byte(other_));
  });
  ErrorInfo error = {-1, -1};
  const Clock::time_point start = Clock::now();
  const int result = lock_with_timeout(&options_, mine_, event_, timer_, 1, 1, &error, 1);
  const double waited = seconds_since(start);
  releaser.join();
  EXPECT_EQ(0, result);
  EXPECT_EQ(0, error.code);
  EXPECT_EQ(0, error.system_error);
  EXPECT_EQ("", report.text());
  if (under_wine()) {
    // Wine: the waiting request stays queued and its zeroed record reads as
    // done at once, so the call returns before the release and holds nothing.
    EXPECT_LT(waited, 0.4);
    return;
  }
  EXPECT_GE(waited, 0.35);
  // The lock is really held now: the other handle is refused.
  ErrorInfo refused = {0, 0};
  EXPECT_EQ(-1, lock_with_timeout(&options_, other_, event_, timer_, 1, 0, &refused, 0));
}

TEST_F(LockTest, WaitingLockNeverGrantedTimesOutAndIsAlwaysReported) {
  other_holds_byte();
  ReportCapture report(dir_.file("report.log"));
  for (int exclusive : {1, 0}) {
    ErrorInfo error = {-1, -1};
    const Clock::time_point start = Clock::now();
    const int result = lock_with_timeout(&options_, mine_, event_, timer_, exclusive, 1, &error, 0);
    const double waited = seconds_since(start);
    if (under_wine()) {
      // Wine: the queued request reads as granted at once.
      EXPECT_EQ(0, result);
      EXPECT_EQ(0, error.code);
      continue;
    }
    EXPECT_EQ(-1, result);
    EXPECT_EQ(22, error.code);
    EXPECT_EQ(0, error.system_error);
    EXPECT_GE(waited, 9.5);
    EXPECT_LT(waited, 60.0);
    std::printf("waiting lock (exclusive=%d) gave up after %.2f s with -t 10\n", exclusive, waited);
    EXPECT_EQ(kTimedOutLine, report.text());
    std::remove(dir_.file("report.log").c_str());
  }
  // The abandoned requests are withdrawn: once the holder lets go, the byte
  // is free for a third party instead of going to a forgotten request.
  ASSERT_EQ(0, unlock_byte(other_));
  ErrorInfo error = {0, 0};
  HANDLE third = open_test_file(dir_.file(".#ZARLOCK.test").c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, third);
  Sleep(300);
  EXPECT_EQ(0, lock_with_timeout(&options_, third, event_, timer_, 1, 0, &error, 1));
  close_handle(&third);
}

TEST_F(LockTest, UnlockOfAByteNotHeldIsReportedWithTheSystemError) {
  ReportCapture report(dir_.file("report.log"));
  ErrorInfo error = {0, 0};
  EXPECT_EQ(-1, unlock_with_timeout(&options_, mine_, event_, timer_, &error));
  EXPECT_EQ(10, error.code);
  // Wine answers ERROR_LOCK_VIOLATION where Windows answers ERROR_NOT_LOCKED.
  const DWORD expected = under_wine() ? ERROR_LOCK_VIOLATION : ERROR_NOT_LOCKED;
  EXPECT_EQ(static_cast<int32_t>(expected), error.system_error);
  const std::string prefix =
      "        ! Failed to release the lock. ERRORCODE=" + std::to_string(expected) + "(";
  EXPECT_EQ(0u, report.text().find(prefix)) << report.text();

  EXPECT_EQ(-1, unlock_byte(mine_));
  EXPECT_EQ(expected, GetLastError());
}

TEST_F(LockTest, TryLockThenWaitOverlapped) {
  other_holds_byte();
  // Records of requests that may still be queued after the test body: kept
  // for the life of the process.
  static OVERLAPPED granted_record;
  static OVERLAPPED expired_record;

  granted_record = OVERLAPPED{};
  granted_record.hEvent = event_;
  ASSERT_EQ(-2, try_lock(mine_, 1, &granted_record));
  std::thread releaser([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(0, unlock_byte(other_));
  });
  EXPECT_EQ(0, wait_overlapped(mine_, &granted_record, timer_, due_time_of(10)));
  releaser.join();
  // Wine: the record reads as done although nothing was granted.
  if (under_wine()) return;
  expired_record = OVERLAPPED{};
  EXPECT_EQ(-2, try_lock(other_, 1, &expired_record));
  EXPECT_EQ(-3, wait_overlapped(other_, &expired_record, timer_, -5000000));  // 0.5 s
  CancelIoEx(other_, &expired_record);
  EXPECT_EQ(0, unlock_byte(mine_));
}

TEST(FileOps, CloseHandleOnlyOnce) {
  TempDir dir;
  HANDLE h = open_test_file(dir.file("x").c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(0, close_handle(&h));
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(-1, close_handle(&h));
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
}

TEST(FileOps, DueTimeIsComputedIn64Bits) {
  EXPECT_EQ(-6000000000LL, due_time_of(600));
  EXPECT_EQ(-300000000LL, due_time_of(30));
}

}  // namespace
