// Two parties on two threads of this process: each has its own handle on the master file,
// and handle-owned locks make them meet as two hosts do.  Third parties are processes.
#include <gtest/gtest.h>

#include <tuple>

#include "sync/harness.h"

namespace {

TEST(Pairing, ThreadsPairStepAndCloseLeavingNothing) {
  char host[256] = {};
  DWORD size = sizeof(host);
  ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &size));
  const std::string tag = host + ("." + std::to_string(GetCurrentProcessId()));
  const std::string single_master = ".#ZARLOCK." + tag + ".master";
  // mode, names, points, the party that polls every 100 ms as older builds do (first or second
  // arrival, first or last out), or none
  using Case = std::tuple<int32_t, std::string, std::string, int, int>;
  for (const auto& [mode, master, endwait, points, steady] :
       std::vector<Case>{{kModeSingle, single_master, tag + ".endwaitfile", 30, -1},
                         {kModeSingle, single_master, tag + ".endwaitfile", 12, 0},
                         {kModeSingle, single_master, tag + ".endwaitfile", 12, 1},
                         {kModeDouble, kMasterName, "endwaitfile", 6, -1}}) {
    TempDir dir, logs;
    // Double: the files a run that timed out in its last wait leaves are reused.
    if (mode == kModeDouble) touch_file(dir.file(master)), touch_file(dir.file(endwait));
    SyncState* states[2] = {};
    ASSERT_TRUE(pair_threads(mode, dir.path(), states, steady));
    EXPECT_EQ(0, states[0]->role);  // the first arrival
    EXPECT_EQ(1, states[1]->role);
    EXPECT_EQ(dir.file(master), states[1]->master_name);
    EXPECT_EQ(dir.file(endwait), states[1]->endwait_name);
    if (mode == kModeDouble) {  // a third process is turned away and leaves the pair's files
      Child third;
      ASSERT_TRUE(start_child("party", {dir.path(), "0", logs.path()}, &third));
      EXPECT_EQ(1, wait_child(&third, 20000));
      EXPECT_NE(std::string::npos, read_file(logs.file("log"))
                                       .find("        ! Failed to obtain an exclusive lock in "
                                             "non-lock waiting mode. ERRORCODE=33("));
      EXPECT_EQ((std::vector<std::string>{master, endwait}), dir.entries());
    }
    EXPECT_EQ(master, dir.entries().front());
    step_together(states, points, steady);
    // The first out leaves the end-wait file for its live partner and waits until it is gone.
    std::atomic<bool> first_out{false};
    std::thread second([&] {
      SteadyPolls polls(steady == 1);
      EXPECT_TRUE(wait_for_file(states[1]->endwait_name, 10000));
      Sleep(300);
      EXPECT_FALSE(first_out.load());
      EXPECT_EQ(0, sync_finish(states[1]));
    });
    {
      SteadyPolls polls(steady == 0);
      EXPECT_EQ(0, sync_finish(states[0]));
    }
    first_out = true;
    second.join();
    EXPECT_TRUE(dir.entries().empty());
  }
}

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

TEST(Finish, SecondTearDownChangesNothing) {
  TempDir dir;
  SyncState* states[2] = {};
  ASSERT_TRUE(pair_threads(kModeDouble, dir.path(), states));
  for (SyncState* state : states) sync_teardown(state, 0);
  sync_teardown(states[0], 1);  // would delete the master file, which nobody holds now
  sync_teardown(nullptr, 1);
  EXPECT_EQ((std::vector<std::string>{kMasterName}), dir.entries());
  for (SyncState* state : states) EXPECT_EQ(0, sync_finish(state));  // released, no handshake
}

}  // namespace
