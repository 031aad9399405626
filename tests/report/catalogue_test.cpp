// The catalogue and the error table: exact bytes in both languages.
#include <stdint.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "report/report.h"

namespace {

// The Japanese texts are the build's bytes: code page 932 on Windows, UTF-8
// elsewhere.
#ifdef _WIN32
const char kJaMessage36[] =
    "\x8e\x77\x92\xe8\x82\xb3\x82\xea\x82\xbd\x5a\x41\x52\x46\x4f\x90\xbb\x95\x69\x8a\xd4\x8b\xa4"
    "\x97\x4c\x8a\xc2\x8b\xab\x90\xdd\x92\xe8\x83\x70\x83\x58\x82\xaa\x95\x73\x90\xb3\x82\xc5\x82"
    "\xb7\x81\x42\x0d\x0a";
const char kJaMessage1[] =
    "\x25\x2a\x73\x83\x65\x83\x58\x83\x67\x20\x25\x73\x82\xaa\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82"
    "\xb5\x82\xbd\x81\x42\x20\x2e\x2e\x2e\x20\x5b\x20\x25\x73\x20\x5d\x0d\x0a";
// "ソ" ends in 0x5C in code page 932: the byte must survive as it is.
const char kJaMessage15[] =
    "\x83\x8a\x83\x5c\x81\x5b\x83\x58\x82\xcc\x89\xf0\x95\xfa\x8f\x88\x97\x9d\x82\xf0\x8e\xc0\x8e"
    "\x7b\x82\xb5\x82\xdc\x82\xb7\x81\x42";
const char kJaError33[] =
    "\x8f\x49\x97\xb9\x8a\x6d\x94\x46\x97\x70\x83\x5e\x83\x43\x83\x7d\x81\x5b\x83\x49\x83\x75\x83"
    "\x57\x83\x46\x83\x4e\x83\x67\x82\xcc\x90\xb6\x90\xac\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc"
    "\x82\xb5\x82\xbd\x81\x42";
#else
const char kJaMessage36[] =
    "\xe6\x8c\x87\xe5\xae\x9a\xe3\x81\x95\xe3\x82\x8c\xe3\x81\x9f\x5a\x41\x52\x46\x4f\xe8\xa3\xbd"
    "\xe5\x93\x81\xe9\x96\x93\xe5\x85\xb1\xe6\x9c\x89\xe7\x92\xb0\xe5\xa2\x83\xe8\xa8\xad\xe5\xae"
    "\x9a\xe3\x83\x91\xe3\x82\xb9\xe3\x81\x8c\xe4\xb8\x8d\xe6\xad\xa3\xe3\x81\xa7\xe3\x81\x99\xe3"
    "\x80\x82\x0d\x0a";
const char kJaMessage1[] =
    "\x25\x2a\x73\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\x20\x25\x73\xe3\x81\x8c\xe7\xb5\x82\xe4\xba"
    "\x86\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x97\xe3\x81\x9f\xe3\x80\x82\x20\x2e\x2e\x2e\x20\x5b\x20"
    "\x25\x73\x20\x5d\x0d\x0a";
const char kJaMessage15[] =
    "\xe3\x83\xaa\xe3\x82\xbd\xe3\x83\xbc\xe3\x82\xb9\xe3\x81\xae\xe8\xa7\xa3\xe6\x94\xbe\xe5\x87"
    "\xa6\xe7\x90\x86\xe3\x82\x92\xe5\xae\x9f\xe6\x96\xbd\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3"
    "\x80\x82";
const char kJaError33[] =
    "\xe7\xb5\x82\xe4\xba\x86\xe7\xa2\xba\xe8\xaa\x8d\xe7\x94\xa8\xe3\x82\xbf\xe3\x82\xa4\xe3\x83"
    "\x9e\xe3\x83\xbc\xe3\x82\xaa\xe3\x83\x96\xe3\x82\xb8\xe3\x82\xa7\xe3\x82\xaf\xe3\x83\x88\xe3"
    "\x81\xae\xe7\x94\x9f\xe6\x88\x90\xe3\x81\xab\xe5\xa4\xb1\xe6\x95\x97\xe3\x81\x97\xe3\x81\xbe"
    "\xe3\x81\x97\xe3\x81\x9f\xe3\x80\x82";
#endif

class CatalogueTest : public ::testing::Test {
 protected:
  void TearDown() override { current_language = kEnglish; }
};

TEST_F(CatalogueTest, EnglishTextsAsShipped) {
  current_language = kEnglish;
  EXPECT_STREQ("%*sTest %s finished. ... [ %s ]\r\n", message_text(1));
  EXPECT_STREQ("%*sTest %s will now start. \r\n", message_text(2));
  EXPECT_STREQ("The specified path of the environment settings shared by ZARFO products is invalid. \r\n",
               message_text(36));
  EXPECT_STREQ("Processing \"Open a new file when when a file exists\"", message_text(52));
  EXPECT_STREQ("ROpen the file to be checked by a read and write access. (%s)", message_text(111));
  EXPECT_STREQ("Operation \"Single environment check\"", message_text(90));
  EXPECT_STREQ("Failed to delete the synchronization file. (%lu)", message_text(95));
  EXPECT_STREQ("The file will now be opened. (%s)", message_text(10));
  EXPECT_STREQ(message_text(10), message_text(12));
  EXPECT_STREQ("Failed to generate a timer object for checking termination.", error_text(33));
  EXPECT_STREQ("The file in the path of the environment settings shared by ZARFO products could not be opened.",
               error_text(4));
}

TEST_F(CatalogueTest, JapaneseTextsAreTheBuildsBytes) {
  current_language = kJapanese;
  EXPECT_STREQ(kJaMessage36, message_text(36));
  EXPECT_STREQ(kJaMessage1, message_text(1));
  EXPECT_STREQ(kJaMessage15, message_text(15));
  EXPECT_STREQ(kJaError33, error_text(33));
  EXPECT_STREQ(message_text(10), message_text(12));
  EXPECT_STRNE(message_text(10), message_text(11));
}

bool has_non_ascii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return true;
  }
  return false;
}

// Ids 1 to 111 carry a text in each column, the English one pure ASCII, the
// Japanese one never; id 0 is empty in both.
TEST_F(CatalogueTest, EveryIdHasTextsInItsLanguage) {
  for (int32_t language : {kJapanese, kEnglish}) {
    current_language = language;
    EXPECT_STREQ("", message_text(0));
    for (int id = 1; id < 112; ++id) {
      EXPECT_EQ(language == kJapanese, has_non_ascii(message_text(id))) << id;
    }
    for (int64_t code = 4; code <= 33; ++code) {
      ASSERT_NE(nullptr, error_text(code)) << code;
      EXPECT_EQ(language == kJapanese, has_non_ascii(error_text(code))) << code;
    }
  }
}

TEST_F(CatalogueTest, NoTextOutsideCodes4To33) {
  for (int32_t language : {kJapanese, kEnglish}) {
    current_language = language;
    for (int64_t code : {INT64_C(-1), INT64_C(0), INT64_C(3), INT64_C(34), INT64_C(0x100000004)}) {
      EXPECT_EQ(nullptr, error_text(code)) << code;
    }
  }
}

}  // namespace
