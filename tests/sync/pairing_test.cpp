// Set-ups that fail, and a pair on two threads of this process finishing while the partner is
// still inside the last rendezvous: each thread has its own handle on the master file, and
// handle-owned locks make them meet as two hosts do.
#include <gtest/gtest.h>

#include "sync/harness.h"

namespace {

TEST(Pairing, FailedSetUpsReportAndLeaveNothing) {
  TempDir dir, logs;
  ReportCapture report(logs.file("log"));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(nullptr, sync_setup(kModeDouble, dir.path().c_str(), 1));  // alone
  // Not before more than 1 whole second, nor long after 2 s and a pause: the pauses that pay
  // back the short first ones keep the wait within its limit.  A generous bound.
  const double waited = ms_between(start, Clock::now());
  EXPECT_GE(waited, 1000);
  EXPECT_LT(waited, 5000);
  EXPECT_TRUE(ends_with(report.text(), kTimedOutLine)) << report.text();
  // A master file name of 256 characters is refused rather than cut.
  const std::string folder = dir.file(std::string(238 - dir.path().size(), 'd'));
  EXPECT_EQ(nullptr, sync_setup(kModeDouble, folder.c_str(), 1));
  EXPECT_NE(std::string::npos, report.text().find("ERRORCODE=206(")) << report.text();
  EXPECT_TRUE(dir.entries().empty());
  EXPECT_TRUE(sync_setup_slots[0].state == nullptr && sync_setup_slots[1].state == nullptr);
}

TEST(Finish, WaitsWhileThePartnerIsInsideTheLastRendezvous) {
  // The partner arrives first at the last point and still polls for this party's marker when
  // this party passes and finishes: freeing its bytes then would show it as ended (24).
  TempDir dir;
  for (int round = 0; round < 3; ++round) {
    SyncState* states[2] = {};
    ASSERT_TRUE(pair_threads(kModeDouble, dir.path(), states));
    int partner[2] = {-5, -5};
    std::thread t([&] {
      partner[0] = sync_step(states[1]);
      Sleep(200);
      partner[1] = sync_finish(states[1]);
    });
    Sleep(250);
    EXPECT_EQ(0, sync_step(states[0]));
    EXPECT_EQ(0, sync_finish(states[0]));
    t.join();
    EXPECT_EQ(0, partner[0]);
    EXPECT_EQ(0, partner[1]);
    EXPECT_TRUE(dir.entries().empty());
  }
}

}  // namespace
