// The reporters: line formats, indentation, the printing thread, the log file.
#include <stdio.h>
#include <string.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "report/report.h"
#include "report/scope_guard.h"
#include "support/temp_dir.h"

namespace {

std::string read_file(const std::string& path) {
  std::string content;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return content;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  fclose(f);
  return content;
}

void write_file(const std::string& path, const std::string& content) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
}

// Every test prints into a fresh log file on a printing thread at level 0.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    log_ = dir_.file("report.log");
    ASSERT_LT(log_.size(), sizeof log_path);
    strcpy(log_path, log_.c_str());
    output_enabled = 1;
    nesting_level = 0;
    current_language = kEnglish;
  }
  void TearDown() override {
    log_path[0] = '\0';
    output_enabled = 0;
    nesting_level = 0;
    current_language = kEnglish;
  }
  std::string log() const { return read_file(log_); }

  TempDir dir_;
  std::string log_;
};

TEST_F(ReportTest, GroupLinesIndentByLevelAndBodyLinesByEightBlanks) {
  begin_group(90);
  report_line("progress");
  EXPECT_EQ(1, nesting_level);
  nesting_level = 3;
  report_start("deep");
  EXPECT_EQ(4, nesting_level);
  ErrorInfo error = {10, 0};
  report_error(&error);
  report_finish("deep", 0);
  EXPECT_EQ(3, nesting_level);
  nesting_level = 1;
  end_group(90, 0);
  EXPECT_EQ(0, nesting_level);
  EXPECT_EQ(
      "Test Operation \"Single environment check\" will now start. \r\n"
      "        progress\r\n"
      "      Test deep will now start. \r\n"
      "        ! Failed to release the lock.\r\n"
      "      Test deep finished. ... [ OK ]\r\n"
      "Test Operation \"Single environment check\" finished. ... [ OK ]\r\n",
      log());
}

TEST_F(ReportTest, FinishLineSaysNgForNgAndAborted) {
  report_start("a");
  report_finish("a", 1);
  report_start("b");
  report_finish("b", -1);
  EXPECT_EQ(
      "Test a will now start. \r\n"
      "Test a finished. ... [ NG ]\r\n"
      "Test b will now start. \r\n"
      "Test b finished. ... [ NG ]\r\n",
      log());
}

TEST_F(ReportTest, GroupGuardPrintsFinishLineWithResultOnScopeExit) {
  {
    GroupGuard group(72);
    report_line("inside");
    group.result = -1;
  }
  EXPECT_EQ(
      "Test Processing type \"File open processing\" will now start. \r\n"
      "        inside\r\n"
      "Test Processing type \"File open processing\" finished. ... [ NG ]\r\n",
      log());
}

TEST_F(ReportTest, ReportMessageFillsTheCatalogueText) {
  report_message(10, "name.txt");
  EXPECT_EQ("        The file will now be opened. (name.txt)\r\n", log());
}

// "! " is the one difference between the two error reporters; ERRORCODE=
// appears only with a system error, whose text the system gives on one line.
TEST_F(ReportTest, ErrorLinesMarkedAndPlain) {
  ErrorInfo without_system = {22, 0};
  report_error(&without_system);
  report_error_plain(&without_system);
  EXPECT_EQ(
      "        ! The processing waiting time exceeded the timeout time.\r\n"
      "        The processing waiting time exceeded the timeout time.\r\n",
      log());

  write_file(log_, "");
  ErrorInfo with_system = {27, 2};  // ERROR_FILE_NOT_FOUND
  report_error(&with_system);
  std::string marked = log();
  write_file(log_, "");
  report_error_plain(&with_system);
  std::string plain = log();
  const std::string head = "        The file to be checked could not be opened. ERRORCODE=2(";
  ASSERT_EQ(0u, plain.compare(0, head.size(), head)) << plain;
  ASSERT_GT(plain.size(), head.size() + 3);  // the system has a text for 2
  EXPECT_EQ(")\r\n", plain.substr(plain.size() - 3));
  EXPECT_EQ(plain.size() - 2, plain.find('\r'));
  EXPECT_EQ(plain.size() - 1, plain.find('\n'));
  EXPECT_EQ("        ! " + plain.substr(8), marked);
}

TEST_F(ReportTest, ErrorWithoutSystemTextGetsEmptyParentheses) {
  ErrorInfo error = {11, 0x2000ABCD};  // customer range: no system owns a text for it
  report_error(&error);
  EXPECT_EQ("        ! Failed to write the file. ERRORCODE=536914893()\r\n", log());
  write_file(log_, "");
  ErrorInfo negative = {11, -1};
  report_error_plain(&negative);
  EXPECT_EQ(0u, log().find("        Failed to write the file. ERRORCODE=-1("));
}

TEST_F(ReportTest, UnknownErrorCodePrintsNothing) {
  for (int32_t code : {0, 3, 34}) {
    ErrorInfo error = {code, 5};
    report_error(&error);
    report_error_plain(&error);
  }
  EXPECT_EQ("", log());
}

TEST_F(ReportTest, OverlongLineIsCutButKeepsItsLineEnd) {
  std::string text(2000, 'x');
  report_line(text.c_str());
  report_line("next");
  std::string content = log();
  ASSERT_EQ(1023u + 14u, content.size());
  EXPECT_EQ("        " + std::string(1013, 'x') + "\r\n", content.substr(0, 1023));
  EXPECT_EQ("        next\r\n", content.substr(1023));
}

TEST_F(ReportTest, OtherThreadsPrintNothingAndKeepTheLevel) {
  begin_group(20);
  std::thread other([] {
    begin_group(72);
    report_line("from the partner");
    ErrorInfo error = {10, 0};
    report_error(&error);
    report_error_plain(&error);
    end_group(72, 1);
    end_group(72, 1);
  });
  other.join();
  EXPECT_EQ(1, nesting_level);
  report_line("main");
  end_group(20, 0);
  EXPECT_EQ(
      "Test Check target \"Test for the path of environment settings shared by ZARFO products\" "
      "will now start. \r\n"
      "        main\r\n"
      "Test Check target \"Test for the path of environment settings shared by ZARFO products\" "
      "finished. ... [ OK ]\r\n",
      log());
}

TEST_F(ReportTest, LogLinesAreAppendedAfterEarlierContent) {
  write_file(log_, "earlier run\n");
  report_line("one");
  report_line("two");
  EXPECT_EQ("earlier run\n        one\r\n        two\r\n", log());
}

// Without a log file the lines go to standard output, and only there.
TEST_F(ReportTest, WithoutLogFileLinesGoToStandardOutput) {
  log_path[0] = '\0';
  std::string captured = dir_.file("stdout.txt");
  fflush(stdout);
  int saved = dup(fileno(stdout));
  FILE* sink = fopen(captured.c_str(), "wb");
  ASSERT_NE(nullptr, sink);
  dup2(fileno(sink), fileno(stdout));
  report_start("console");
  report_finish("console", 0);
  fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  fclose(sink);
  EXPECT_EQ("Test console will now start. \r\nTest console finished. ... [ OK ]\r\n",
            read_file(captured));
  EXPECT_EQ("", log());
}

TEST_F(ReportTest, LineToAnUnopenableLogIsLostAndTheNextTriesAgain) {
  std::string missing = dir_.file("gone") + "/x.log";
  strcpy(log_path, missing.c_str());
  report_line("lost");
  strcpy(log_path, log_.c_str());
  report_line("kept");
  EXPECT_EQ("        kept\r\n", log());
}

TEST_F(ReportTest, JapaneseLinesReachTheLogAsTheBuildsBytes) {
  current_language = kJapanese;
  begin_group(90);
  end_group(90, 1);
#ifdef _WIN32
  const std::string heading = "\x93\xae\x8d\xec\x81\x75\x92\x50\x88\xea\x8a\xc2\x8b\xab\x8a\x6d\x94\x46\x81\x76";
  const std::string test = "\x83\x65\x83\x58\x83\x67 ";
  const std::string start = "\x82\xf0\x8a\x4a\x8e\x6e\x82\xb5\x82\xdc\x82\xb7\x81\x42\r\n";
  const std::string finish = "\x82\xaa\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";
#else
  const std::string heading =
      "\xe5\x8b\x95\xe4\xbd\x9c\xe3\x80\x8c\xe5\x8d\x98\xe4\xb8\x80\xe7\x92\xb0\xe5\xa2\x83\xe7\xa2"
      "\xba\xe8\xaa\x8d\xe3\x80\x8d";
  const std::string test = "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88 ";
  const std::string start =
      "\xe3\x82\x92\xe9\x96\x8b\xe5\xa7\x8b\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82\r\n";
  const std::string finish =
      "\xe3\x81\x8c\xe7\xb5\x82\xe4\xba\x86\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x97\xe3\x81\x9f\xe3\x80"
      "\x82";
#endif
  EXPECT_EQ(test + heading + start + test + heading + finish + " ... [ NG ]\r\n", log());
}

}  // namespace
