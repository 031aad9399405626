// What only the unit level reaches: the plan's order and skipping rules over
// scripted tests (the command line's cases are process tests,
// tests/e2e/test_cli.py).

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/plan.h"

namespace {

// Each scripted test records "<name><target> " and gives the next result.
std::string calls;
std::vector<int> script;

template <char kName>
int scripted(const RunOptions*, int32_t target) {
  calls += kName + std::to_string(target) + " ";
  int result = script.empty() ? 0 : script.front();
  if (!script.empty()) script.erase(script.begin());
  return result;
}

const PlanStep kFirst[] = {{72, scripted<'a'>}, {71, scripted<'b'>}};
const PlanStep kSecond[] = {{72, scripted<'a'>}, {74, scripted<'c'>}, {71, scripted<'b'>}};
const PlanTarget kTargets[] = {{20, kTargetShare, kFirst, 2}, {21, kTargetPath, kSecond, 3}};

// The results combine as they go: an abort wins, else any NG.
TEST(Plan, OrderAndSkippingAfterAnAbort) {
  struct { std::vector<int> results; int result; std::string calls; } rows[] = {
      {{0, 0, 0, 0, 0}, 0, "a1 b1 a2 c2 b2 "},
      {{0, 1, 0, 1, 0}, 1, "a1 b1 a2 c2 b2 "},  // an NG goes on; NG and NG stay NG
      {{-1}, -1, "a1 "},                        // an abort ends its target and the operation
      {{1, -1}, -1, "a1 b1 "},
      {{0, 0, 1, -1}, -1, "a1 b1 a2 c2 "},      // the abort after an NG wins
  };
  for (const auto& row : rows) {
    RunOptions options = {};
    calls.clear();
    script = row.results;
    EXPECT_EQ(row.result, run_operation(&options, 90, kTargets, 2)) << row.calls;
    EXPECT_EQ(row.calls, calls);
  }
}

}  // namespace
