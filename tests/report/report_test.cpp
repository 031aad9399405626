// The report module where the end-to-end reports do not reach: the catalogue
// and the error table complete in both languages, and error lines for codes
// and system errors that no run of the tool meets.
#include <stdint.h>

#include <string>

#include <gtest/gtest.h>

#include "report/report.h"
#include "support/report_capture.h"
#include "support/temp_dir.h"

namespace {

// Ids 1 to 112 and codes 4 to 34 have a text in each language, English in
// ASCII, Japanese never; id 0 is empty, other codes have none.
TEST(Report, CatalogueHasEveryIdAndCode) {
  auto ascii = [](const char* t) { while (*t != '\0' && static_cast<unsigned char>(*t) < 0x80) ++t; return !*t; };
  for (int32_t language : {kJapanese, kEnglish}) {
    current_language = language;
    EXPECT_STREQ("", message_text(0));
    for (int id = 1; id < 113; ++id) EXPECT_EQ(language == kEnglish, ascii(message_text(id))) << id;
    for (int64_t code = 4; code <= 34; ++code) {
      ASSERT_NE(nullptr, error_text(code, language)) << code;
      EXPECT_EQ(language == kEnglish, ascii(error_text(code, language))) << code;
    }
    for (int64_t code : {INT64_C(-1), INT64_C(0), INT64_C(3), INT64_C(35), INT64_C(0x100000004)})
      EXPECT_EQ(nullptr, error_text(code, language)) << code;
  }
}

// ERRORCODE= only with a system error, "()" when the system has no text for
// it (the customer range); nothing for a code without a table text.
TEST(Report, ErrorLines) {
  TempDir dir;
  ReportCapture report(dir.file("report.log"));
  for (ErrorInfo error : {ErrorInfo{11, 0x2000ABCD}, ErrorInfo{0, 5}, ErrorInfo{3, 5}, ErrorInfo{35, 5}}) {
    report_error(&error); report_error_plain(&error);
  }
  EXPECT_EQ("        ! Failed to write the file. ERRORCODE=536914893()\r\n"
            "        Failed to write the file. ERRORCODE=536914893()\r\n", report.text());
}

}  // namespace
