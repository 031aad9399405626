// The console handler of the set-up, run in child processes: it suspends
// threads, and a real console signal ends the process.
#include <gtest/gtest.h>

#include <atomic>

#include "driver/run_options.h"
#include "support/child.h"
#include "support/temp_dir.h"
#include "sync/harness.h"

namespace {

struct SetupThread {
  std::string folder;
  std::atomic<bool> returned{false};
};

DWORD WINAPI run_setup(LPVOID param) {
  auto* setup = static_cast<SetupThread*>(param);
  sync_setup(kModeDouble, setup->folder.c_str(), 30);
  setup->returned = true;
  return 0;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Two set-ups wait alone, each in its own folder, when the console event
// comes.  args: the two folders.  Exit status: 0, or the failed check.
ZARN_CHILD(interrupt_two_setups) {
  SetupThread setups[2];
  HANDLE threads[2];
  for (int i = 0; i < 2; ++i) {
    setups[i].folder = args[i];
    threads[i] = CreateThread(nullptr, 0, run_setup, &setups[i], 0, nullptr);
    if (threads[i] == nullptr) return 10;
  }
  for (int i = 0; i < 2; ++i) {
    if (!wait_for_file(args[i] + ZARN_PATH_SEPARATOR + kMasterName, 20000)) return 11;
  }
  Sleep(300);
  EnterCriticalSection(&resource_lock);
  const bool both_set_up = sync_setup_slots[0].state != nullptr &&
                           sync_setup_slots[1].state != nullptr &&
                           sync_setup_slots[0].thread_id != 0 && sync_setup_slots[1].thread_id != 0;
  LeaveCriticalSection(&resource_lock);
  if (!both_set_up) return 12;

  if (sync_console_handler(CTRL_C_EVENT) != FALSE) return 13;
  for (int i = 0; i < 2; ++i) {
    if (exists(args[i] + ZARN_PATH_SEPARATOR + kMasterName)) return 14;
  }
  for (const SyncSetupSlot& slot : sync_setup_slots) {
    if (slot.thread_id != 0 || slot.state != nullptr) return 15;
  }
  // Well past the 100 ms poll: a running set-up would have noticed its
  // closed master file and returned.
  Sleep(1500);
  for (int i = 0; i < 2; ++i) {
    DWORD code = 0;
    if (setups[i].returned || !GetExitCodeThread(threads[i], &code) || code != STILL_ACTIVE) {
      return 16;
    }
  }
  std::_Exit(0);  // the suspended threads end with the process
}

struct StepperThread {
  std::atomic<SyncState*> state{nullptr};
  std::string folder;
  std::atomic<bool> go{false};
  std::atomic<int> result{-5};
};

DWORD WINAPI set_up_then_step(LPVOID param) {
  auto* party = static_cast<StepperThread*>(param);
  party->state = sync_setup(kModeSingle, party->folder.c_str(), 10);
  if (party->state == nullptr) return 1;
  while (!party->go) Sleep(10);
  int result = sync_step(party->state);
  if (result == 0) result = sync_step(party->state);
  if (result == 0) result = sync_finish(party->state);
  party->result = result;
  return 0;
}

// After both set-ups ended, the entries still carry the two thread ids; a
// console event must leave those threads (now under their callers' care)
// running.  args: folder.
ZARN_CHILD(console_event_after_setup) {
  StepperThread parties[2];
  HANDLE threads[2];
  for (int i = 0; i < 2; ++i) {
    parties[i].folder = args[0];
    threads[i] = CreateThread(nullptr, 0, set_up_then_step, &parties[i], 0, nullptr);
    if (threads[i] == nullptr) return 10;
  }
  while (parties[0].state == nullptr || parties[1].state == nullptr) Sleep(10);
  EnterCriticalSection(&resource_lock);
  const bool ids_kept = sync_setup_slots[0].thread_id != 0 && sync_setup_slots[1].thread_id != 0 &&
                        sync_setup_slots[0].state == nullptr && sync_setup_slots[1].state == nullptr;
  LeaveCriticalSection(&resource_lock);
  if (!ids_kept) return 11;

  if (sync_console_handler(CTRL_C_EVENT) != FALSE) return 12;
  if (sync_setup_slots[0].thread_id != 0 || sync_setup_slots[1].thread_id != 0) return 13;
  for (StepperThread& party : parties) party.go = true;
  for (HANDLE thread : threads) {
    if (WaitForSingleObject(thread, 20000) != WAIT_OBJECT_0) return 14;  // suspended
  }
  for (StepperThread& party : parties) {
    if (party.result != 0) return 15;
  }
  return 0;
}

#ifndef _WIN32
// args: folder.  A set-up that waits alone until the console signal.
ZARN_CHILD(setup_until_signal) {
  sync_setup(kModeDouble, args[0].c_str(), 30);
  return 1;
}
#endif

TEST(ConsoleHandler, SuspendsTheSetUpsAndDeletesTheirMasterFiles) {
  TempDir first;
  TempDir second;
  Child child;
  ASSERT_TRUE(start_child("interrupt_two_setups", {first.path(), second.path()}, &child));
  EXPECT_EQ(0, wait_child(&child, 60000));
  EXPECT_TRUE(first.entries().empty());
  EXPECT_TRUE(second.entries().empty());
}

TEST(ConsoleHandler, LeavesThreadsAloneOnceTheirSetUpEnded) {
  TempDir dir;
  Child child;
  ASSERT_TRUE(start_child("console_event_after_setup", {dir.path()}, &child));
  EXPECT_EQ(0, wait_child(&child, 60000));
  EXPECT_TRUE(dir.entries().empty());
}

#ifndef _WIN32
TEST(ConsoleHandler, ConsoleSignalDuringSetUpEndsTheProcessWithoutLeftovers) {
  TempDir dir;
  Child child;
  ASSERT_TRUE(start_child("setup_until_signal", {dir.path()}, &child));
  ASSERT_TRUE(wait_for_file(dir.file(kMasterName), 20000));
  Sleep(300);
  signal_child(&child, SIGINT);
  EXPECT_EQ(128 + SIGINT, wait_child(&child, 20000));
  EXPECT_TRUE(dir.entries().empty());
}
#endif

}  // namespace
