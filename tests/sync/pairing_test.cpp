// Two parties on two threads of this process: each has its own handle on
// the master file, and handle-owned locks make them meet as two hosts do.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "driver/run_options.h"
#include "fileops/report_capture.h"
#include "support/temp_dir.h"
#include "sync/harness.h"

namespace {

const std::string kSep = ZARN_PATH_SEPARATOR;

// Runs `steps` synchronisation points on both threads and checks after each
// one that the partner has entered the same point and is not past the next.
void pair_and_step(int32_t mode, const std::string& folder, int steps, SyncState* states[2]) {
  std::atomic<int> entered[2] = {{0}, {0}};
  Meeting meeting;
  auto party = [&](int me) {
    SyncState* state = sync_setup(mode, folder.c_str(), 10);
    states[me] = state;
    ASSERT_NE(nullptr, state);
    meeting.meet();  // both paired: names and roles can be compared
    for (int k = 1; k <= steps; ++k) {
      if (k % 3 == 0) meeting.meet();  // both enter at the same moment
      if (k % 3 == 1) std::this_thread::sleep_for(std::chrono::milliseconds((k * 37 + me * 61) % 40));
      entered[me] = k;
      ASSERT_EQ(0, sync_step(state)) << "point " << k;
      const int partner = entered[1 - me].load();
      EXPECT_GE(partner, k) << "passed point " << k << " before the partner reached it";
      EXPECT_LE(partner, k + 1) << "the partner ran two points ahead";
    }
  };
  std::thread other(party, 1);
  party(0);
  other.join();
}

TEST(Pairing, SingleModeThreadsStayInStepAndLeaveNothingBehind) {
  TempDir dir;
  SyncState* states[2] = {nullptr, nullptr};
  pair_and_step(kModeSingle, dir.path(), 40, states);
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);
  EXPECT_EQ(1, states[0]->role + states[1]->role);
  EXPECT_EQ(states[0]->own_presence_byte, states[1]->partner_presence_byte);
  EXPECT_EQ(states[0]->role == 0 ? 1 : 2, states[0]->own_presence_byte);

  // Names private to this process: host name and process id.
  const std::string tag = host_name() + "." + std::to_string(GetCurrentProcessId());
  EXPECT_STREQ((dir.path() + kSep + ".#ZARLOCK." + tag + ".master").c_str(), states[0]->master_name);
  EXPECT_STREQ((dir.path() + kSep + tag + ".endwaitfile").c_str(), states[0]->endwait_name);
  EXPECT_EQ((std::vector<std::string>{".#ZARLOCK." + tag + ".master"}), dir.entries());

  int finished[2] = {-5, -5};
  std::thread other([&] { finished[1] = sync_finish(states[1]); });
  finished[0] = sync_finish(states[0]);
  other.join();
  EXPECT_EQ(0, finished[0]);
  EXPECT_EQ(0, finished[1]);
  EXPECT_TRUE(dir.entries().empty());
}

TEST(Pairing, DoubleModeUsesFixedNamesAndReusesLeftovers) {
  TempDir dir;
  // Left by a run that timed out waiting for the end-wait file.
  for (const char* name : {kMasterName, kEndwaitName}) {
    std::FILE* f = std::fopen(dir.file(name).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fclose(f);
  }
  SyncState* states[2] = {nullptr, nullptr};
  pair_and_step(kModeDouble, dir.path(), 6, states);
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);
  EXPECT_STREQ(dir.file(kMasterName).c_str(), states[1]->master_name);
  EXPECT_STREQ(dir.file(kEndwaitName).c_str(), states[1]->endwait_name);
  std::thread other([&] { EXPECT_EQ(0, sync_finish(states[1])); });
  EXPECT_EQ(0, sync_finish(states[0]));
  other.join();
  EXPECT_TRUE(dir.entries().empty());
}

TEST(Pairing, LonePartyGivesUpAfterTheLimitAndDeletesTheMasterFile) {
  TempDir dir;
  ReportCapture report(dir.file("report.log"));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(nullptr, sync_setup(kModeDouble, dir.path().c_str(), 2));
  const double waited = seconds_between(start, Clock::now());
  std::printf("lone party gave up after %.2f s with a limit of 2 s\n", waited);
  EXPECT_GT(waited, 2.0);
  EXPECT_LT(waited, 5.0);
  EXPECT_EQ(
      "        Initial processing for synchronization will now start.\r\n"
      "        The file name of a synchronization file will now be generated.\r\n"
      "        The synchronization file will now be opened.\r\n"
      "        Pre-processing for synchronization will now be executed.\r\n"
      "        Information indicating that synchronization is now in progress will be set.\r\n"
      "        Synchronization information will now be set.\r\n"
      "        Wait until synchronization information of the remote host is set.\r\n"
      "        ! The processing waiting time exceeded the timeout time.\r\n",
      report.text());
  EXPECT_EQ((std::vector<std::string>{"report.log"}), dir.entries());
  EXPECT_EQ(nullptr, sync_setup_slots[0].state);
  EXPECT_EQ(nullptr, sync_setup_slots[1].state);
}

TEST(Pairing, NamesThatWouldBeCutAreRefused) {
  // A folder of 240 characters: the fixed master name no longer fits in 255.
  TempDir dir;
  ReportCapture report(dir.file("report.log"));
  const std::string folder = dir.path() + kSep + std::string(239 - dir.path().size(), 'd');
  EXPECT_EQ(nullptr, sync_setup(kModeDouble, folder.c_str(), 2));
  EXPECT_NE(std::string::npos, report.text().find("ERRORCODE=206(")) << report.text();
}

}  // namespace
