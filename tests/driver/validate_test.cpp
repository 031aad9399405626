// Validation: what it leaves set up for the run (the messages themselves are
// checked byte for byte by the end-to-end tests).
#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "capture.h"
#include "driver/driver.h"
#include "report/report.h"
#include "support/temp_dir.h"

namespace {

class ValidateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    memset(&options_, 0, sizeof options_);
    options_.mode = kModeSingle;
    strcpy(options_.share_path, dir_.path().c_str());
    strcpy(options_.target_path, dir_.path().c_str());
    output_enabled = 0;
  }
  void TearDown() override {
    output_enabled = 0;
    log_path[0] = '\0';
  }
  int validate() {
    int rc = 0;
    stderr_ = capture_stderr(dir_.file("stderr.txt"), [&] { rc = validate_options(&options_); });
    if (rc == 0) DeleteCriticalSection(&resource_lock);
    return rc;
  }

  TempDir dir_;
  RunOptions options_;
  std::string stderr_;
};

TEST_F(ValidateTest, AcceptedRunArmsOutputAndTakesTheLogPath) {
  std::string log = dir_.file("run.log");
  strcpy(options_.log_file, log.c_str());
  ASSERT_EQ(0, validate());
  EXPECT_EQ("", stderr_);
  EXPECT_EQ(1, output_enabled);
  EXPECT_EQ(log, log_path);
  FILE* f = fopen(log.c_str(), "rb");  // the probe created it, empty
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(EOF, fgetc(f));
  fclose(f);
}

TEST_F(ValidateTest, LogProbeKeepsContentAndNoLogMeansConsole) {
  std::string log = dir_.file("old.log");
  FILE* f = fopen(log.c_str(), "wb");
  fputs("kept\r\n", f);
  fclose(f);
  strcpy(log_path, "left over");
  ASSERT_EQ(0, validate());
  EXPECT_STREQ("", log_path);

  strcpy(options_.log_file, log.c_str());
  ASSERT_EQ(0, validate());
  f = fopen(log.c_str(), "rb");
  char buffer[16] = {};
  fread(buffer, 1, sizeof buffer - 1, f);
  fclose(f);
  EXPECT_STREQ("kept\r\n", buffer);
}

TEST_F(ValidateTest, RefusalLeavesOutputDisarmed) {
  std::string missing = dir_.file("missing");
  strcpy(options_.target_path, missing.c_str());
  EXPECT_EQ(-1, validate());
  EXPECT_EQ(message_text(37), stderr_);
  EXPECT_EQ(0, output_enabled);

  strcpy(options_.target_path, dir_.path().c_str());
  strcpy(options_.log_file, dir_.path().c_str());  // a folder is no log file
  EXPECT_EQ(-1, validate());
  EXPECT_EQ(message_text(16), stderr_);
  EXPECT_EQ(0, output_enabled);
}

}  // namespace
