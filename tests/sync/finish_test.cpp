// The closing handshake in every order, on two threads.
#include <gtest/gtest.h>

#include <thread>

#include "driver/run_options.h"
#include "fileops/report_capture.h"
#include "support/child.h"
#include "support/temp_dir.h"
#include "sync/harness.h"

namespace {

// Two records paired in Double mode in `folder`, [0] with role 0.
void pair(const std::string& folder, SyncState* states[2]) {
  SyncState* second = nullptr;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    second = sync_setup(kModeDouble, folder.c_str(), 10);
  });
  states[0] = sync_setup(kModeDouble, folder.c_str(), 10);
  other.join();
  states[1] = second;
}

const char kFirstOutLines[] =
    "        Termination processing for synchronization will now start.\r\n"
    "        The remote host will now be checked for whether it can accept the termination "
    "processing.\r\n"
    "        The living state of the remote host will now be checked.\r\n"
    "        A termination synchronization file will now be created.\r\n"
    "        Processing to release the resource will now be performed.\r\n"
    "        The system waits until processing of the remote host ends.\r\n"
    "        Termination processing for synchronization ended successfully.\r\n";

const char kLastOutLines[] =
    "        Termination processing for synchronization will now start.\r\n"
    "        The remote host will now be checked for whether it can accept the termination "
    "processing.\r\n"
    "        The living state of the remote host will now be checked.\r\n"
    "        Processing to release the resource will now be performed.\r\n"
    "        Termination processing for synchronization ended successfully.\r\n";

TEST(Finish, PartnerAliveOutsideARendezvousGetsTheEndWaitFile) {
  TempDir dir;
  SyncState* states[2];
  pair(dir.path(), states);
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);

  // The partner is busy elsewhere: the first party out leaves the end-wait
  // file and waits until the partner's finish has deleted it.
  std::atomic<bool> first_returned{false};
  int last_out = -5;
  std::thread partner([&] {
    EXPECT_TRUE(wait_for_file(dir.file(kEndwaitName), 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(first_returned.load());
    last_out = sync_finish(states[1]);
  });
  {
    ReportCapture report(dir.file("report.log"));
    EXPECT_EQ(0, sync_finish(states[0]));
    first_returned = true;
    EXPECT_EQ(kFirstOutLines, report.text());
  }
  partner.join();
  EXPECT_EQ(0, last_out);
  EXPECT_EQ((std::vector<std::string>{"report.log"}), dir.entries());
}

TEST(Finish, PartnerAlreadyEndedLeavesNoEndWaitFile) {
  TempDir dir;
  SyncState* states[2];
  pair(dir.path(), states);
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);
  // The partner ends without the handshake, as a console handler ends it.
  sync_teardown(states[1], 0);
  ReportCapture report(dir.file("report.log"));
  EXPECT_EQ(0, sync_finish(states[0]));
  EXPECT_EQ(kLastOutLines, report.text());
  EXPECT_EQ((std::vector<std::string>{"report.log"}), dir.entries());
  VirtualFree(states[1], 0, MEM_RELEASE);
}

TEST(Finish, WaitsUntilThePartnerLeavesTheLastRendezvous) {
  // The partner arrives first at the last point and is still polling for
  // this party's marker when this party passes and starts to finish.
  // Finishing at once would free this party's marker and presence byte under
  // the partner, which would then report the partner as ended (24).
  TempDir dir;
  for (int round = 0; round < 5; ++round) {
    SyncState* states[2];
    pair(dir.path(), states);
    ASSERT_NE(nullptr, states[0]);
    ASSERT_NE(nullptr, states[1]);
    int partner_step = -5;
    int partner_finish = -5;
    std::thread partner([&] {
      partner_step = sync_step(states[1]);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      partner_finish = sync_finish(states[1]);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(0, sync_step(states[0]));
    EXPECT_EQ(0, sync_finish(states[0]));
    partner.join();
    EXPECT_EQ(0, partner_step) << "round " << round;
    EXPECT_EQ(0, partner_finish) << "round " << round;
    EXPECT_TRUE(dir.entries().empty());
  }
}

TEST(Finish, TeardownTwiceChangesNothingTheSecondTime) {
  TempDir dir;
  SyncState* states[2];
  pair(dir.path(), states);
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);
  sync_teardown(states[0], 0);
  sync_teardown(states[1], 0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, states[0]->master_file);
  EXPECT_EQ(0, states[0]->step);
  EXPECT_EQ(1, states[0]->torn_down);
  // Nobody holds the master file any more: a second tear-down that deleted
  // would remove it.
  sync_teardown(states[0], 1);
  sync_teardown(nullptr, 1);
  EXPECT_EQ((std::vector<std::string>{kMasterName}), dir.entries());
  // A torn-down record finishes without any handshake and is released.
  EXPECT_EQ(0, sync_finish(states[0]));
  EXPECT_EQ(0, sync_finish(states[1]));
}

}  // namespace
