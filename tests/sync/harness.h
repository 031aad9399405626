// Helpers of the synchronisation tests: report capture, pairs on threads, the fixed names.
#ifndef ZARN_TESTS_SYNC_HARNESS_H
#define ZARN_TESTS_SYNC_HARNESS_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/run_options.h"
#include "report/report.h"
#include "support/child.h"
#include "support/steady_polls/steady_polls.h"
#include "support/temp_dir.h"
#include "sync/sync.h"

using Clock = std::chrono::steady_clock;
inline double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

const char kMasterName[] = ".#ZARLOCK.master";  // Double mode: fixed, so that two hosts meet
const char kTimedOutLine[] = "        ! The processing waiting time exceeded the timeout time.\r\n";

inline std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Report lines of this thread go to `path` while it lives.
struct ReportCapture {
  explicit ReportCapture(const std::string& file) : path(file) {
    std::snprintf(log_path, sizeof(log_path), "%s", file.c_str());
    output_enabled = 1;
  }
  ~ReportCapture() { output_enabled = 0, log_path[0] = '\0'; }
  std::string text() const { return read_whole_file(path); }
  const std::string path;
};

// Two records paired in `folder` on two threads, [0] arriving first.  Party `steady` (0, 1 or
// none) polls every 100 ms, here and wherever it is given to the helpers below.
inline void pair_threads(int32_t mode, const std::string& folder, SyncState* states[2],
                         int steady = -1) {
  std::thread second([&] {
    SteadyPolls polls(steady == 1);
    Sleep(150), states[1] = sync_setup(mode, folder.c_str(), 10);
  });
  SteadyPolls polls(steady == 0);
  states[0] = sync_setup(mode, folder.c_str(), 10);
  second.join();
}

// Both parties through `steps` points: every third point they enter at once, else party k % 2
// comes up to 150 ms late.  Past each point the partner has entered it and is not past the
// next.  Prints how soon the waiting party noticed a late partner.
inline void step_together(SyncState* states[2], int steps, int steady = -1) {
  std::atomic<int> entered[2] = {{0}, {0}}, passed[2] = {{0}, {0}};
  std::vector<Clock::time_point> late_in(steps + 1), early_out(steps + 1);
  auto party = [&](int me) {
    SteadyPolls polls(me == steady);
    for (int k = 1; k <= steps; ++k) {
      for (int spin = 0; k % 3 == 0 && passed[1 - me] < k - 1 && spin < 20000; ++spin) Sleep(1);
      if (k % 3 != 0 && k % 2 == me) Sleep(50 + k * 37 % 100), late_in[k] = Clock::now();
      entered[me] = k;
      ASSERT_EQ(0, sync_step(states[me])) << "point " << k;
      if (k % 3 != 0 && k % 2 != me) early_out[k] = Clock::now();
      passed[me] = k;
      EXPECT_LE(static_cast<unsigned>(entered[1 - me] - k), 1u) << "point " << k;
    }
  };
  std::thread other(party, 1);
  party(0);
  other.join();
  double worst = 0;
  for (int k = 1; k <= steps; ++k)
    worst = std::max(worst, k % 3 ? ms_between(late_in[k], early_out[k]) : 0);
  std::printf("a late partner was noticed within %.0f ms (%d points, party %d polling every 100 ms)\n",
              worst, steps, steady);
}

#endif
