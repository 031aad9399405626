// Parties in separate processes: this binary re-run as a partner that polls as older builds
// do, as a late process, as one killed inside a rendezvous, and as a process whose console
// handler interrupts set-ups.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/steady_polls/steady_polls.h"
#include "sync/harness.h"
#include "sync/master_file.h"

namespace {

// A process in an earlier script of a pairing in Double mode.  args: folder, control folder
// (its report goes to "log"), its script.  1 when its set-up fails, as it must.
ZARN_CHILD(late_party) {
  ReportCapture report(args[1] + ZARN_PATH_SEPARATOR "log");
  SyncState* state = sync_setup(kModeDouble, args[0].c_str(), 10, nullptr, nullptr, std::atoi(args[2].c_str()));
  return state == nullptr ? 1 : (sync_finish(state), 0);
}

// The second arrival of the first rendezvous, played by hand and killed while it holds the
// guard and its marker.  args: folder, control folder.
ZARN_CHILD(second_arrival_inside) {
  HANDLE master = open_sync_file((args[0] + ZARN_PATH_SEPARATOR + kMasterName).c_str());
  while (!lock_master_byte(master, kGuardByte, LockKind::kExclusive)) Sleep(10);
  if (!lock_master_byte(master, kInRendezvousByte, LockKind::kShared) ||
      !lock_master_byte(master, kPresenceByteRole1, LockKind::kExclusive)) {
    return 1;
  }
  touch_file(args[1] + ZARN_PATH_SEPARATOR "inside");
  Sleep(60000);  // killed before this ends
  return 2;
}

// One party of a pairing in Double mode, the second to arrive when `second` (once the first has
// made the master file): through 9 points, late by 150 ms at each point k with k % 3 != 0 and
// k % 2 == its role, so that each party arrives first at some points and second at others; then
// the first arrival of the set-up finishes first.  0, or the point that failed (10 the finish,
// 20 the set-up).
int run_paired_script(const std::string& folder, bool second, int32_t* role) {
  if (second && !wait_for_file(folder + ZARN_PATH_SEPARATOR + kMasterName, 20000)) return 30;
  if (second) Sleep(150);
  SyncState* state = sync_setup(kModeDouble, folder.c_str(), 10);
  if (state == nullptr) return 20;
  *role = state->role;
  for (int k = 1; k <= 9; ++k) {
    if (k % 3 != 0 && k % 2 == *role) Sleep(150);
    if (sync_step(state) != 0) return (sync_finish(state), k);
  }
  if (*role == 1) Sleep(300);
  return sync_finish(state) == 0 ? 0 : 10;
}

// The partner of PairsWithAPartnerThatPollsEvery100Ms.  args: folder, "second" or "first".
ZARN_CHILD(steady_partner) {
  SteadyPolls polls(true);
  int32_t role = -1;
  return run_paired_script(args[0], args[1] == "second", &role);
}

TEST(Processes, PairsWithAPartnerThatPollsEvery100Ms) {
  for (bool partner_first : {true, false}) {
    TempDir dir;
    Child child;
    ASSERT_TRUE(start_child("steady_partner", {dir.path(), partner_first ? "first" : "second"}, &child));
    int32_t role = -1;
    EXPECT_EQ(0, run_paired_script(dir.path(), partner_first, &role));
    EXPECT_EQ(partner_first ? 1 : 0, role);
    EXPECT_EQ(0, wait_child(&child, 60000));
    EXPECT_TRUE(dir.entries().empty());
  }
}

TEST(Processes, ALateProcessInAnEarlierScriptGivesWayToThePair) {
  // The late process waits as the first arrival; the pair's first member takes the second
  // marker and holds on until the late one has seen its script and gone, then both meet.
  TempDir dir, logs;
  Child late;
  ASSERT_TRUE(start_child("late_party", {dir.path(), logs.path(), "1"}, &late));
  ASSERT_TRUE(wait_for_file(dir.file(kMasterName), 20000));
  Sleep(300);
  SyncState* states[2] = {};
  std::thread second([&] {
    Sleep(300), states[1] = sync_setup(kModeDouble, dir.path().c_str(), 10, nullptr, nullptr, 2);
  });
  states[0] = sync_setup(kModeDouble, dir.path().c_str(), 10, nullptr, nullptr, 2);
  second.join();
  EXPECT_EQ(1, wait_child(&late, 20000));
  EXPECT_TRUE(ends_with(read_file(logs.file("log")),
                        "        ! Another process took part in the synchronization.\r\n"))
      << read_file(logs.file("log"));
  ASSERT_TRUE(states[0] && states[1]);
  EXPECT_EQ(1, states[0]->role + states[1]->role);
  step_together(states, 3);
  std::thread out([&] { EXPECT_EQ(0, sync_finish(states[1])); });
  EXPECT_EQ(0, sync_finish(states[0]));
  out.join();
  EXPECT_TRUE(dir.entries().empty());
}

TEST(Processes, PartnerKilledInsideTheFirstRendezvousEndsAtTheLimit) {
  TempDir dir, control;
  Child child;
  std::thread killer([&] {
    EXPECT_TRUE(wait_for_file(dir.file(kMasterName), 20000));
    Sleep(200);
    EXPECT_TRUE(start_child("second_arrival_inside", {dir.path(), control.path()}, &child));
    EXPECT_TRUE(wait_for_file(control.file("inside"), 20000));
    kill_child(&child);
  });
  ReportCapture report(control.file("log"));
  EXPECT_EQ(nullptr, sync_setup(kModeDouble, dir.path().c_str(), 2));
  killer.join();
  EXPECT_TRUE(ends_with(report.text(), kTimedOutLine)) << report.text();
  EXPECT_TRUE(dir.entries().empty());
}

// A pair set up in args[0], one of its threads kept in the set-up table, and a lone set-up
// waiting in args[1]: the console event stops and tears down only the latter; the pair's
// records, which belong to their callers' handlers, stay as they are.  Exit status 0, or the
// check that failed.
ZARN_CHILD(console_event) {
  SyncState* states[2] = {};
  std::atomic<bool> paired{false}, lone_returned{false};
  std::thread second([&] {
    Sleep(150), states[1] = sync_setup(kModeDouble, args[0].c_str(), 10), paired = true;
    for (;;) Sleep(1000);  // kept in the table; ended with the process
  });
  states[0] = sync_setup(kModeDouble, args[0].c_str(), 10);
  while (states[0] && !paired) Sleep(10);
  std::thread lone([&] { sync_setup(kModeDouble, args[1].c_str(), 30), lone_returned = true; });
  const std::string lone_master = args[1] + ZARN_PATH_SEPARATOR + kMasterName;
  if (!states[0] || !states[1] || !wait_for_file(lone_master, 20000)) std::_Exit(10);
  Sleep(300);
  if (sync_console_handler(CTRL_C_EVENT) != FALSE) std::_Exit(12);
  if (GetFileAttributesA(lone_master.c_str()) != INVALID_FILE_ATTRIBUTES) std::_Exit(13);
  Sleep(500);  // a set-up left running would have noticed its closed master file by now
  if (lone_returned || states[0]->torn_down || states[1]->torn_down) std::_Exit(14);
  for (SyncState* state : states) sync_teardown(state, 1);  // as the callers' handlers would
  std::_Exit(0);
}

TEST(ConsoleHandler, StopsOnlySetUpsInProgressAndDeletesTheirMasterFiles) {
  TempDir paired, lone;
  Child child;
  ASSERT_TRUE(start_child("console_event", {paired.path(), lone.path()}, &child));
  EXPECT_EQ(0, wait_child(&child, 60000));
  EXPECT_TRUE(paired.entries().empty());
  EXPECT_TRUE(lone.entries().empty());
}

}  // namespace
