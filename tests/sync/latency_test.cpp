// How soon one party notices the other: arrival at a point, and death.
// Printed for the record; the bounds only guard against hangs.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "driver/run_options.h"
#include "support/temp_dir.h"
#include "sync/harness.h"

double measure_partner_death_ms(bool partner_late);  // process_test.cpp

namespace {

TEST(Latency, PartnerArrivalIsNoticedWithinAPoll) {
  TempDir dir;
  SyncState* states[2] = {nullptr, nullptr};
  std::thread other([&] { states[1] = sync_setup(kModeDouble, dir.path().c_str(), 10); });
  states[0] = sync_setup(kModeDouble, dir.path().c_str(), 10);
  other.join();
  ASSERT_NE(nullptr, states[0]);
  ASSERT_NE(nullptr, states[1]);

  std::vector<double> delays;
  for (int round = 0; round < 20; ++round) {
    Clock::time_point partner_entered;
    int late_result = -5;
    std::thread late([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150 + (round * 37) % 100));
      partner_entered = Clock::now();
      late_result = sync_step(states[1]);
    });
    const int early_result = sync_step(states[0]);
    const Clock::time_point passed = Clock::now();
    late.join();
    ASSERT_EQ(0, early_result);
    ASSERT_EQ(0, late_result);
    // Never before the partner entered its call.
    ASSERT_GE(ms_between(partner_entered, passed), 0.0);
    delays.push_back(ms_between(partner_entered, passed));
  }
  std::printf("partner arrival noticed after %.1f ms (median of 20; min %.1f, max %.1f)\n",
              median(delays), *std::min_element(delays.begin(), delays.end()),
              *std::max_element(delays.begin(), delays.end()));
  EXPECT_LT(median(delays), 2000.0);
  std::thread other_finish([&] { EXPECT_EQ(0, sync_finish(states[1])); });
  EXPECT_EQ(0, sync_finish(states[0]));
  other_finish.join();
}

TEST(Latency, PartnerDeathIsNoticedWithinAPoll) {
  std::vector<double> inside;    // waiting inside the rendezvous
  std::vector<double> at_start;  // waiting at the start of sync_step
  for (int round = 0; round < 20; ++round) {
    const bool partner_late = round % 2 == 0;
    const double delay = measure_partner_death_ms(partner_late);
    ASSERT_GE(delay, 0.0);
    (partner_late ? inside : at_start).push_back(delay);
  }
  std::vector<double> all = inside;
  all.insert(all.end(), at_start.begin(), at_start.end());
  std::printf("partner death noticed after %.1f ms (median of 20; min %.1f, max %.1f)\n",
              median(all), *std::min_element(all.begin(), all.end()),
              *std::max_element(all.begin(), all.end()));
  std::printf("  waiting inside the rendezvous: %zu runs, median %.1f ms\n", inside.size(),
              median(inside));
  std::printf("  waiting at the start of sync_step: %zu runs, median %.1f ms\n", at_start.size(),
              median(at_start));
  EXPECT_LT(median(all), 5000.0);
}

}  // namespace
