// Helpers of the synchronisation tests: pairs on threads, the fixed names.
#ifndef ZARN_TESTS_SYNC_HARNESS_H
#define ZARN_TESTS_SYNC_HARNESS_H

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/run_options.h"
#include "support/child.h"
#include "support/report_capture.h"
#include "support/temp_dir.h"
#include "sync/sync.h"

using Clock = std::chrono::steady_clock;
inline double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

const char kMasterName[] = ".#ZARLOCK.master";  // Double mode: fixed, so that two hosts meet
const char kTimedOutLine[] = "        ! The processing waiting time exceeded the timeout time.\r\n";

inline bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Two records paired in `folder` on two threads, [0] arriving first; whether both were set
// up.
inline bool pair_threads(int32_t mode, const std::string& folder, SyncState* states[2]) {
  std::thread second([&] { Sleep(150), states[1] = sync_setup(mode, folder.c_str(), 10); });
  states[0] = sync_setup(mode, folder.c_str(), 10);
  second.join();
  return states[0] && states[1];
}

// Both parties through `steps` points: every third point they enter at once, else party k % 2
// comes up to 150 ms late.  Past each point the partner has entered it and is not past the
// next.
inline void step_together(SyncState* states[2], int steps) {
  std::atomic<int> entered[2] = {{0}, {0}}, passed[2] = {{0}, {0}};
  auto party = [&](int me) {
    for (int k = 1; k <= steps; ++k) {
      for (int spin = 0; k % 3 == 0 && passed[1 - me] < k - 1 && spin < 20000; ++spin) Sleep(1);
      if (k % 3 != 0 && k % 2 == me) Sleep(50 + k * 37 % 100);
      entered[me] = k;
      ASSERT_EQ(0, sync_step(states[me])) << "point " << k;
      passed[me] = k;
      EXPECT_LE(static_cast<unsigned>(entered[1 - me] - k), 1u) << "point " << k;
    }
  };
  std::thread other(party, 1);
  party(0);
  other.join();
}

#endif
