// The report module's bytes: the catalogue and the error table in both
// languages, the reporters' lines, the printing thread, the log file.
#include <stdint.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "report/report.h"
#include "support/temp_dir.h"

namespace {

// The build's bytes for a UTF-8 text: code page 932 on Windows (converted by
// the system, not by the compiler that made the catalogue's), else UTF-8.
std::string ansi(const std::string& utf8) {
#ifdef _WIN32
  std::wstring wide(utf8.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1);
  std::string out(wide.size() * 2 + 1, '\0');
  out.resize(WideCharToMultiByte(932, 0, wide.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr) - 1);
  return out;
#else
  return utf8;
#endif
}

// Every test prints at level 0 into a log file that holds an earlier run.
struct ReportTest : ::testing::Test {
  void SetUp() override {
    ASSERT_LT(log_.size(), sizeof log_path);
    strcpy(log_path, log_.c_str());
    std::ofstream(log_, std::ios::binary) << "earlier run\n";
    output_enabled = 1;
    nesting_level = 0;
  }
  void TearDown() override { log_path[0] = '\0'; output_enabled = 0; current_language = kEnglish; }
  // What was appended after the earlier run's text.
  std::string appended() {
    std::ifstream in(log_, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(0u, all.find("earlier run\n"));
    return all.substr(all.find('\n') + 1);
  }

  TempDir dir_;
  std::string log_ = dir_.file("report.log");
};

// Slips included ("when when", "ROpen"): reports are compared line by line.
TEST_F(ReportTest, CatalogueSpotTextsInBothLanguages) {
  struct { int32_t language; int id; bool error; const char* utf8; } rows[] = {
      {kEnglish, 1, false, "%*sTest %s finished. ... [ %s ]\r\n"},
      {kEnglish, 52, false, "Processing \"Open a new file when when a file exists\""},
      {kEnglish, 111, false, "ROpen the file to be checked by a read and write access. (%s)"},
      {kEnglish, 4, true, "The file in the path of the environment settings shared by ZARFO products could not be opened."},
      {kJapanese, 1, false, "%*sテスト %sが終了しました。 ... [ %s ]\r\n"},
      {kJapanese, 36, false, "指定されたZARFO製品間共有環境設定パスが不正です。\r\n"},
      {kJapanese, 15, false, "リソースの解放処理を実施します。"},
      {kJapanese, 33, true, "終了確認用タイマーオブジェクトの生成に失敗しました。"},
  };
  for (const auto& row : rows) {
    current_language = row.language;
    EXPECT_STREQ(ansi(row.utf8).c_str(), row.error ? error_text(row.id) : message_text(row.id)) << row.id;
  }
#ifdef _WIN32
  current_language = kJapanese;  // "ソ" ends in the byte of "\" in code page 932: it must stay
  EXPECT_EQ(0, memcmp("\x83\x8a\x83\x5c\x81\x5b", message_text(15), 6));
#endif
}

// Ids 1 to 111 and codes 4 to 33 have a text in each language, English in
// ASCII, Japanese never; id 0 is empty, other codes have none.
TEST_F(ReportTest, CatalogueHasEveryIdAndCode) {
  auto ascii = [](const char* t) { while (*t != '\0' && static_cast<unsigned char>(*t) < 0x80) ++t; return !*t; };
  for (int32_t language : {kJapanese, kEnglish}) {
    current_language = language;
    EXPECT_STREQ("", message_text(0));
    for (int id = 1; id < 112; ++id) EXPECT_EQ(language == kEnglish, ascii(message_text(id))) << id;
    for (int64_t code = 4; code <= 33; ++code) {
      ASSERT_NE(nullptr, error_text(code)) << code;
      EXPECT_EQ(language == kEnglish, ascii(error_text(code))) << code;
    }
    for (int64_t code : {INT64_C(-1), INT64_C(0), INT64_C(3), INT64_C(34), INT64_C(0x100000004)})
      EXPECT_EQ(nullptr, error_text(code)) << code;
  }
}

// Meanwhile another thread reports: it prints nothing and does not touch
// the level (the tsan preset sees any access that races the main thread's).
TEST_F(ReportTest, GroupsIndentByLevelOtherLinesByEightBlanks) {
  ErrorInfo error = {10, 0};
  std::thread partner([&error] {
    for (int i = 0; i < 200; ++i) {
      begin_group(72); report_line("partner"); report_error(&error); end_group(72, 1); end_group(72, 1);
    }
  });
  begin_group(90);
  report_line("progress");
  nesting_level = 3;
  report_start("deep");
  report_message(10, "name.txt");
  report_error(&error);
  report_error_plain(&error);
  report_finish("deep", -1);
  partner.join();
  EXPECT_EQ(3, nesting_level);
  nesting_level = 1;
  end_group(90, 0);
  EXPECT_EQ(0, nesting_level);
  EXPECT_EQ("Test Operation \"Single environment check\" will now start. \r\n"
            "        progress\r\n"
            "      Test deep will now start. \r\n"
            "        The file will now be opened. (name.txt)\r\n"
            "        ! Failed to release the lock.\r\n"
            "        Failed to release the lock.\r\n"
            "      Test deep finished. ... [ NG ]\r\n"
            "Test Operation \"Single environment check\" finished. ... [ OK ]\r\n",
            appended());
}

// ERRORCODE= only with a system error, "()" when the system has no text for
// it (the customer range); nothing for a code without a table text.
TEST_F(ReportTest, ErrorLines) {
  for (ErrorInfo error : {ErrorInfo{11, 0x2000ABCD}, ErrorInfo{0, 5}, ErrorInfo{3, 5}, ErrorInfo{34, 5}}) {
    report_error(&error); report_error_plain(&error);
  }
  EXPECT_EQ("        ! Failed to write the file. ERRORCODE=536914893()\r\n"
            "        Failed to write the file. ERRORCODE=536914893()\r\n", appended());
}

TEST_F(ReportTest, JapaneseLinesReachTheLogAsTheBuildsBytes) {
  current_language = kJapanese;
  begin_group(90);
  end_group(90, 1);
  EXPECT_EQ(ansi("テスト 動作「単一環境確認」を開始します。\r\n"
                 "テスト 動作「単一環境確認」が終了しました。 ... [ NG ]\r\n"), appended());
}

}  // namespace
