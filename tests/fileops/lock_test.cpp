// Waiting lock requests on a real file, a second handle playing the other holder.  Wine's
// deviation: waiting locks never complete yet read as done at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "fileops/fileops.h"
#include "support/report_capture.h"
#include "support/temp_dir.h"
#include "support/wine.h"

namespace {

using Outcome = std::tuple<int, int32_t, int32_t>;  // result, ErrorInfo code, system error
const Outcome kOk(0, 0, 0);
const bool kWine = on_wine();

class LockTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE* h : {&mine_, &other_}) close_handle(h);
    CloseHandle(event_), CloseHandle(timer_);
  }
  HANDLE open() {
    return open_test_file(dir_.file("f").c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  }
  static Outcome got(int result, const ErrorInfo& e) { return {result, e.code, e.system_error}; }
  Outcome lock(HANDLE file, int exclusive, int wait, int report = 1) {
    ErrorInfo e = {-1, -1};
    return got(lock_with_timeout(&options_, file, event_, timer_, LockKind(exclusive),
                                 LockWait(wait), &e, LockReport(report)), e);
  }

  TempDir dir_;
  ReportCapture report_{dir_.file("report.log")};
  RunOptions options_ = {};
  HANDLE mine_ = open(), other_ = open();
  HANDLE event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE timer_ = CreateWaitableTimerA(nullptr, FALSE, nullptr);
};

TEST_F(LockTest, WaitingRequestsGrantedOnReleaseOrTimedOutReportedAndWithdrawn) {
  options_.timeout_sec = 10;
  ASSERT_EQ(kOk, lock(other_, 1, 0));
  static OVERLAPPED records[2];  // requests may outlive the test under Wine
  HANDLE third = open();
  ASSERT_EQ(-2, try_lock(third, LockKind::kShared, &records[0]));
  std::atomic<bool> released{false};
  std::thread releaser([&] { Sleep(400), released = true, unlock_byte(other_); });
  EXPECT_EQ(kOk, lock(mine_, 0, 1));  // shared, like third's; Wine: at once, holding nothing
  releaser.join();
  EXPECT_EQ(0, wait_overlapped(third, &records[0], timer_, due_time_of(10)));
  EXPECT_TRUE(released || kWine);
  for (HANDLE h : {mine_, third}) ASSERT_EQ(kOk, kWine ? lock(h, 0, 0) : kOk);  // Wine: none held
  // Exclusive requests while both hold the byte: never granted.
  EXPECT_EQ(-2, try_lock(other_, LockKind::kExclusive, &records[1]));
  EXPECT_EQ(kWine ? 0 : -3, wait_overlapped(other_, &records[1], timer_, -5000000));  // 0.5 s
  CancelIoEx(other_, &records[1]);
  options_.timeout_sec = 1;  // given up after 1 s, reported though report is off
  EXPECT_EQ(kWine ? kOk : Outcome(-1, 22, 0), lock(other_, 1, 1, 0));
  EXPECT_EQ(kWine ? "-" : "        ! The processing waiting time exceeded the timeout time.\r\n", report_.text());
  EXPECT_EQ(-6000000000LL, due_time_of(600));  // -t 600: beyond 32 bits
  // The abandoned request was withdrawn: once both let go, the third handle gets the byte.
  for (HANDLE h : {mine_, third}) EXPECT_EQ(0, unlock_byte(h));
  Sleep(300);
  EXPECT_EQ(kOk, lock(third, 1, 0));
  close_handle(&third);
}

}  // namespace
