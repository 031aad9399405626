// The command-line grammar: what is stored, and the fine points of refusal
// (the end-to-end tests cover every usage case as a process).
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture.h"
#include "driver/driver.h"
#include "support/temp_dir.h"

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  // Parses "zarntwchk args..." into options_; the usage text, if any, lands in stderr_.
  int parse(std::vector<std::string> args) {
    args.insert(args.begin(), "zarntwchk");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    memset(&options_, 0, sizeof options_);
    int rc = 0;
    stderr_ = capture_stderr(dir_.file("stderr.txt"), [&] {
      rc = parse_command_line(static_cast<int>(args.size()), argv.data(), &options_);
    });
    EXPECT_EQ(rc == 0 ? std::string() : std::string(usage_text), stderr_);
    return rc;
  }
  // A single-mode command line with one more option and value.
  int parse_single_with(const std::string& option, const std::string& value) {
    return parse({"-m", "single", "-p", "p", "-h", "h", option, value});
  }

  TempDir dir_;
  RunOptions options_;
  std::string stderr_;
};

TEST_F(CommandLineTest, FieldsOfEachMode) {
  ASSERT_EQ(0, parse({"-h", "share", "-o", "log", "-p", "target", "-m", "single"}));
  EXPECT_EQ(1, options_.mode);
  EXPECT_STREQ("share", options_.share_path);
  EXPECT_STREQ("target", options_.target_path);
  EXPECT_STREQ("", options_.target_file);
  EXPECT_STREQ("log", options_.log_file);
  EXPECT_EQ(30, options_.timeout_sec);

  ASSERT_EQ(0, parse({"-m", "double", "-p", "t", "-h", "s", "-t", "600"}));
  EXPECT_EQ(2, options_.mode);
  EXPECT_EQ(600, options_.timeout_sec);

  ASSERT_EQ(0, parse({"-t", "10", "-f", "file", "-m", "userapl"}));
  EXPECT_EQ(3, options_.mode);
  EXPECT_STREQ("file", options_.target_file);
  EXPECT_EQ(10, options_.timeout_sec);
}

TEST_F(CommandLineTest, ValueIsTheNextArgumentWhateverItLooksLike) {
  ASSERT_EQ(0, parse({"-p", "-h", "-h", "-m", "-m", "single"}));
  EXPECT_STREQ("-h", options_.target_path);
  EXPECT_STREQ("-m", options_.share_path);
}

TEST_F(CommandLineTest, PathsUpTo200Characters) {
  std::string p200(200, 'p');
  ASSERT_EQ(0, parse_single_with("-o", p200));
  EXPECT_EQ(p200, options_.log_file);
  EXPECT_EQ(-1, parse_single_with("-o", std::string(201, 'o')));
  EXPECT_EQ(-1, parse({"-m", "single", "-p", std::string(201, 'p'), "-h", "h"}));
}

TEST_F(CommandLineTest, TimeoutConvertedAsAtoiDoes) {
  struct {
    const char* text;
    int rc;
    int32_t value;
  } cases[] = {
      {"10", 0, 10},         {"600", 0, 600},   {" \t+30", 0, 30},  {"30abc", 0, 30},
      {"0045", 0, 45},       {"9", -1, 0},      {"601", -1, 0},     {"0x10", -1, 0},
      {"", -1, 0},           {"-30", -1, 0},    {"abc", -1, 0},     {"99999999999", -1, 0},
      {"4294967326", -1, 0},  // 2^32 + 30: clamped, not wrapped to 30
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.rc, parse_single_with("-t", c.text)) << c.text;
    if (c.rc == 0) {
      EXPECT_EQ(c.value, options_.timeout_sec) << c.text;
    }
  }
}

TEST_F(CommandLineTest, OptionWordsOtherThanTheSixAreRefused) {
  for (const char* word : {"-M", "-P", "-x", "--p", "-pp", "-", "p", "m", ""}) {
    EXPECT_EQ(-1, parse_single_with(word, "v")) << word;
  }
  EXPECT_EQ(-1, parse({"-m", "Single", "-p", "p", "-h", "h"}));
  EXPECT_EQ(-1, parse({"-m", "singlex", "-p", "p", "-h", "h"}));
}

}  // namespace
