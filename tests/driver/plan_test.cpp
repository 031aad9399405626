// The plan machinery: order, skipping after an abort, combined results and
// the group lines, over a table of scripted tests.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/driver.h"
#include "driver/plan.h"
#include "report/report.h"
#include "support/temp_dir.h"

namespace {

// The scripted tests: each call records itself and returns the next result.
std::vector<std::string> calls;
std::vector<int> script;

int scripted(const char* name, int32_t target) {
  calls.push_back(std::string(name) + "@" + std::to_string(target));
  int result = script.empty() ? 0 : script.front();
  if (!script.empty()) script.erase(script.begin());
  return result;
}
int test_a(const RunOptions*, int32_t target) { return scripted("a", target); }
int test_b(const RunOptions*, int32_t target) { return scripted("b", target); }
int test_c(const RunOptions*, int32_t target) { return scripted("c", target); }

const PlanStep kFirst[] = {{72, test_a}, {71, test_b}};
const PlanStep kSecond[] = {{72, test_a}, {74, test_c}, {71, test_b}};
const PlanTarget kTargets[] = {{20, kTargetShare, kFirst, 2}, {21, kTargetPath, kSecond, 3}};

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    script.clear();
    log_ = dir_.file("plan.log");
    strcpy(log_path, log_.c_str());
    output_enabled = 1;
    nesting_level = 0;
    memset(&options_, 0, sizeof options_);
  }
  void TearDown() override {
    log_path[0] = '\0';
    output_enabled = 0;
  }
  int run(std::vector<int> results) {
    script = results;
    int result = run_operation(&options_, 90, kTargets, 2);
    EXPECT_EQ(0, nesting_level);
    EXPECT_TRUE(script.empty()) << "tests not run";
    return result;
  }
  // The log as "<indent>start id" / "<indent>finish id OK|NG" lines.
  std::string outline() {
    std::string out;
    FILE* f = fopen(log_.c_str(), "rb");
    char line[2048];
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
      std::string s(line);
      size_t indent = s.find_first_not_of(' ');
      std::string heading;
      for (int id : {20, 21, 71, 72, 74, 90}) {
        if (s.find(message_text(id)) != std::string::npos) heading = std::to_string(id);
      }
      bool finish = s.find("finished") != std::string::npos;
      out += std::string(indent, ' ') + (finish ? "end " : "begin ") + heading;
      if (finish) out += s.find("[ OK ]") != std::string::npos ? " OK" : " NG";
      out += "\n";
    }
    if (f != nullptr) fclose(f);
    return out;
  }

  TempDir dir_;
  std::string log_;
  RunOptions options_;
};

TEST_F(PlanTest, AllPassing) {
  EXPECT_EQ(0, run({0, 0, 0, 0, 0}));
  EXPECT_EQ((std::vector<std::string>{"a@1", "b@1", "a@2", "c@2", "b@2"}), calls);
  EXPECT_EQ(
      "begin 90\n"
      "  begin 20\n    begin 72\n    end 72 OK\n    begin 71\n    end 71 OK\n  end 20 OK\n"
      "  begin 21\n    begin 72\n    end 72 OK\n    begin 74\n    end 74 OK\n"
      "    begin 71\n    end 71 OK\n  end 21 OK\n"
      "end 90 OK\n",
      outline());
}

TEST_F(PlanTest, AbortInFirstTargetSkipsEverythingAfter) {
  EXPECT_EQ(-1, run({-1}));
  EXPECT_EQ((std::vector<std::string>{"a@1"}), calls);
  EXPECT_EQ("begin 90\n  begin 20\n    begin 72\n    end 72 NG\n  end 20 NG\nend 90 NG\n",
            outline());
}

TEST_F(PlanTest, NgKeepsGoingAndAbortAfterNgWins) {
  EXPECT_EQ(1, run({1, 0, 0, 0, 0}));
  EXPECT_EQ(5u, calls.size());

  calls.clear();
  EXPECT_EQ(-1, run({1, 0, 0, -1}));
  EXPECT_EQ((std::vector<std::string>{"a@1", "b@1", "a@2", "c@2"}), calls);
}

TEST_F(PlanTest, SecondTargetAbortsAfterAnNg) {
  EXPECT_EQ(-1, run({0, 0, 1, -1}));
  EXPECT_EQ(
      "begin 90\n"
      "  begin 20\n    begin 72\n    end 72 OK\n    begin 71\n    end 71 OK\n  end 20 OK\n"
      "  begin 21\n    begin 72\n    end 72 NG\n    begin 74\n    end 74 NG\n  end 21 NG\n"
      "end 90 NG\n",
      outline());
}

TEST_F(PlanTest, AbortAsLastTestOfFirstTarget) {
  EXPECT_EQ(-1, run({1, -1}));
  EXPECT_EQ((std::vector<std::string>{"a@1", "b@1"}), calls);
}

TEST(CombineResults, LastAbortElseAnyNg) {
  EXPECT_EQ(0, combine_results(0, 0));
  EXPECT_EQ(1, combine_results(0, 1));
  EXPECT_EQ(1, combine_results(1, 0));
  EXPECT_EQ(1, combine_results(1, 1));
  EXPECT_EQ(-1, combine_results(0, -1));
  EXPECT_EQ(-1, combine_results(1, -1));
}

}  // namespace
