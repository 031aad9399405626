// Parties in separate processes: this binary re-run as the partner, killed,
// or joining as a third party.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "driver/run_options.h"
#include "fileops/report_capture.h"
#include "support/child.h"
#include "support/temp_dir.h"
#include "sync/harness.h"

namespace {

enum : int { kChildOk = 0, kSetupFailed = 1, kStepFailed = 2, kFinishFailed = 3 };

// args: folder, steps, then "finish" (the handshake), "exit" (end without
// it) or "hang" (wait to be killed), then a control folder for the
// hand-shake files "paired" and "stepped" and the report log, and
// optionally a delay in milliseconds before each point.
ZARN_CHILD(sync_party) {
  const std::string folder = args[0];
  const int steps = std::atoi(args[1].c_str());
  const std::string end = args[2];
  const std::string control = args[3];
  const int delay_ms = args.size() > 4 ? std::atoi(args[4].c_str()) : 0;
  ReportCapture report(control + ZARN_PATH_SEPARATOR "party.log");
  SyncState* state = sync_setup(kModeDouble, folder.c_str(), 10);
  if (state == nullptr) return kSetupFailed;
  touch_file(control + ZARN_PATH_SEPARATOR "paired");
  for (int k = 0; k < steps; ++k) {
    if (delay_ms > 0) Sleep(static_cast<DWORD>(delay_ms));
    if (sync_step(state) != 0) return kStepFailed;
  }
  touch_file(control + ZARN_PATH_SEPARATOR "stepped");
  if (end == "hang") {
    for (;;) Sleep(1000);
  }
  if (end == "exit") return kChildOk;
  return sync_finish(state) == 0 ? kChildOk : kFinishFailed;
}

// Plays the second arrival of the first rendezvous by hand and is killed
// while it still holds the guard and its marker: both vanish at once.
// args: folder, control folder.
ZARN_CHILD(second_arrival_killed_inside) {
  HANDLE master = open_sync_file((args[0] + ZARN_PATH_SEPARATOR + kMasterName).c_str());
  if (master == INVALID_HANDLE_VALUE) return 1;
  while (!raw_lock(master, 0, TRUE)) Sleep(10);
  if (!raw_lock(master, 3, FALSE)) return 2;
  if (raw_lock(master, 1, TRUE)) return 3;  // the first arrival holds byte 1
  if (!raw_lock(master, 2, TRUE)) return 4;
  touch_file(args[1] + ZARN_PATH_SEPARATOR "inside");
  for (;;) Sleep(1000);
}

// args: folder, control folder.  0 when turned away as a third party.
ZARN_CHILD(third_party) {
  ReportCapture report(args[1] + ZARN_PATH_SEPARATOR "third.log");
  return sync_setup(kModeDouble, args[0].c_str(), 3) == nullptr ? 0 : 1;
}

TEST(Processes, PairAcrossProcessesFirstArrivalFirst) {
  TempDir dir;
  TempDir control;
  Child child;
  ASSERT_TRUE(start_child("sync_party", {dir.path(), "25", "finish", control.path()}, &child));
  // The child arrives first and waits.
  ASSERT_TRUE(wait_for_file(dir.file(kMasterName), 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  SyncState* state = sync_setup(kModeDouble, dir.path().c_str(), 10);
  ASSERT_NE(nullptr, state);
  EXPECT_EQ(1, state->role);
  for (int k = 0; k < 25; ++k) ASSERT_EQ(0, sync_step(state)) << "point " << k;
  EXPECT_EQ(0, sync_finish(state));
  EXPECT_EQ(kChildOk, wait_child(&child, 20000));
  EXPECT_TRUE(dir.entries().empty());
}

// The partner dies while this party waits at a point after the first:
// its presence byte goes free and is noticed at the next poll.
// With `partner_late` this party arrives first at the previous point and
// waits inside the next rendezvous; else it arrives second and waits at the
// start of sync_step, which adds the first poll of the rendezvous.
double partner_death_noticed_after_ms(bool partner_late, std::string* printed) {
  TempDir dir;
  TempDir control;
  Child child;
  EXPECT_TRUE(start_child("sync_party",
                          {dir.path(), "1", "hang", control.path(), partner_late ? "300" : "0"},
                          &child));
  SyncState* state = sync_setup(kModeDouble, dir.path().c_str(), 10);
  EXPECT_NE(nullptr, state);
  if (state == nullptr) return -1;
  if (!partner_late) Sleep(300);
  EXPECT_EQ(0, sync_step(state));
  EXPECT_TRUE(wait_for_file(control.file("stepped"), 20000));
  EXPECT_EQ(partner_late ? 4 : 5, state->step);

  // Killed at varying moments of this party's 100 ms poll.
  static int round = 0;
  const int kill_after_ms = 300 + (round++ * 37) % 100;
  Clock::time_point killed;
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms));
    killed = Clock::now();
    kill_child(&child);
  });
  int result;
  {
    ReportCapture report(control.file("report.log"));
    result = sync_step(state);
  }
  const Clock::time_point noticed = Clock::now();
  killer.join();
  EXPECT_EQ(-1, result);
  *printed = read_file(control.file("report.log"));
  // The survivor finishes alone and deletes both files.
  EXPECT_EQ(0, sync_finish(state));
  EXPECT_TRUE(dir.entries().empty());
  return ms_between(killed, noticed);
}

TEST(Processes, PartnerKilledAtALaterPointIsReportedAsEnded) {
  for (bool partner_late : {true, false}) {
    std::string printed;
    const double delay = partner_death_noticed_after_ms(partner_late, &printed);
    std::printf("partner death noticed %.0f ms after the kill\n", delay);
    EXPECT_LT(delay, 5000.0);
    const std::string tail = "        ! The process on the remote host has already ended.\r\n";
    ASSERT_GE(printed.size(), tail.size());
    EXPECT_EQ(tail, printed.substr(printed.size() - tail.size())) << printed;
  }
}

TEST(Processes, PartnerKilledInsideTheFirstRendezvousEndsInTheTimeLimit) {
  TempDir dir;
  TempDir control;
  SyncState* state = reinterpret_cast<SyncState*>(1);
  Clock::time_point start = Clock::now();
  std::thread waiting([&] {
    ReportCapture report(control.file("report.log"));
    state = sync_setup(kModeDouble, dir.path().c_str(), 3);
  });
  ASSERT_TRUE(wait_for_file(dir.file(kMasterName), 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Child child;
  ASSERT_TRUE(start_child("second_arrival_killed_inside", {dir.path(), control.path()}, &child));
  ASSERT_TRUE(wait_for_file(control.file("inside"), 20000));
  kill_child(&child);
  waiting.join();
  const double waited = seconds_between(start, Clock::now());
  EXPECT_EQ(nullptr, state);
  EXPECT_GT(waited, 3.0);
  const std::string printed = read_file(control.file("report.log"));
  const std::string tail = "        ! The processing waiting time exceeded the timeout time.\r\n";
  ASSERT_GE(printed.size(), tail.size());
  EXPECT_EQ(tail, printed.substr(printed.size() - tail.size())) << printed;
  EXPECT_TRUE(dir.entries().empty());
}

TEST(Processes, ThirdPartyIsTurnedAwayAndThePairGoesOn) {
  TempDir dir;
  TempDir control;
  SyncState* states[2] = {nullptr, nullptr};
  std::thread other([&] { states[1] = sync_setup(kModeDouble, dir.path().c_str(), 10); });
  states[0] = sync_setup(kModeDouble, dir.path().c_str(), 10);
  other.join();
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);

  Child third;
  ASSERT_TRUE(start_child("third_party", {dir.path(), control.path()}, &third));
  EXPECT_EQ(0, wait_child(&third, 20000));
  const std::string printed = read_file(control.file("third.log"));
  EXPECT_NE(std::string::npos,
            printed.find("        Synchronization information will now be reset.\r\n"
                         "        ! Failed to obtain an exclusive lock in non-lock waiting mode. "
                         "ERRORCODE=33("))
      << printed;
  // Its attempt to delete the master file failed: the pair has it open.
  EXPECT_EQ((std::vector<std::string>{kMasterName}), dir.entries());

  int results[4] = {-5, -5, -5, -5};
  std::thread partner([&] {
    results[2] = sync_step(states[1]);
    results[3] = sync_finish(states[1]);
  });
  results[0] = sync_step(states[0]);
  results[1] = sync_finish(states[0]);
  partner.join();
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), std::vector<int>(results, results + 4));
  EXPECT_TRUE(dir.entries().empty());
}

TEST(Processes, FinishAfterThePartnerProcessEnded) {
  TempDir dir;
  TempDir control;
  Child child;
  ASSERT_TRUE(start_child("sync_party", {dir.path(), "2", "exit", control.path()}, &child));
  SyncState* state = sync_setup(kModeDouble, dir.path().c_str(), 10);
  ASSERT_NE(nullptr, state);
  EXPECT_EQ(0, sync_step(state));
  EXPECT_EQ(0, sync_step(state));
  EXPECT_EQ(kChildOk, wait_child(&child, 20000));
  ReportCapture report(control.file("report.log"));
  EXPECT_EQ(0, sync_finish(state));
  EXPECT_EQ(std::string::npos, report.text().find("termination synchronization file"));
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace

double measure_partner_death_ms(bool partner_late) {
  std::string printed;
  return partner_death_noticed_after_ms(partner_late, &printed);
}
