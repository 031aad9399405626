// What only the unit level reaches: the plan's order and skipping rules over
// scripted tests, and the -t conversion's clamping (the usage and validation
// cases are process tests, tests/e2e/test_cli.py).

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/driver.h"
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

// -t is read as atoi reads it, clamped to 32 bits: 2^32 + 30 must not wrap to
// 30, nor -(2^32 - 10) to 10.  A refused value prints the usage text.
TEST(CommandLine, TimeoutConvertedAsAtoiWithClamping) {
  struct { std::string text; int rc; int32_t timeout; } rows[] = {
      {" \t+30", 0, 30}, {"0045", 0, 45}, {"4294967326", -1, 0}, {"-4294967286", -1, 0}};
  for (auto row : rows) {
    std::vector<std::string> args = {"zarntwchk", "-m", "userapl", "-f", "f", "-t", row.text};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    RunOptions options = {};
    EXPECT_EQ(row.rc, parse_command_line(static_cast<int>(args.size()), argv.data(), &options)) << row.text;
    if (row.rc == 0) {
      EXPECT_EQ(row.timeout, options.timeout_sec) << row.text;
    }
  }
}

}  // namespace
