// Check-file names: both forms, the separator, and the length limit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/run_options.h"
#include "fileops/check_name.h"
#include "platform/win32.h"

namespace {

std::string host_name() {
  char host[256] = {};
  DWORD size = sizeof(host);
  EXPECT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &size));
  return host;
}

std::string name_of(int32_t mode, const std::string& folder, int32_t n) {
  char out[260];
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(0, make_check_file_name(mode, folder.c_str(), n, out));
  return out;
}

const std::string kSep = ZARN_PATH_SEPARATOR;

TEST(CheckName, SingleCarriesHostAndProcessDoubleOnlyTheNumber) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  EXPECT_EQ("share" + kSep + ".#ZARLOCK." + host_name() + "." + pid + ".0",
            name_of(kModeSingle, "share", 0));
  EXPECT_EQ("share" + kSep + ".#ZARLOCK." + host_name() + "." + pid + ".1",
            name_of(kModeSingle, "share", 1));
  EXPECT_EQ("share" + kSep + ".#ZARLOCK.0", name_of(kModeDouble, "share", 0));
  EXPECT_EQ("share" + kSep + ".#ZARLOCK.1", name_of(kModeDouble, "share", 1));
}

TEST(CheckName, FolderIsUsedAsGivenEvenWithATrailingSeparator) {
  EXPECT_EQ("a" + kSep + kSep + ".#ZARLOCK.1", name_of(kModeDouble, "a" + kSep, 1));
}

TEST(CheckName, OtherModesLeaveTheBufferUntouched) {
  char out[260];
  std::memset(out, 'q', sizeof(out));
  EXPECT_EQ(0, make_check_file_name(kModeUserApl, "share", 0, out));
  EXPECT_EQ(std::string(sizeof(out), 'q'), std::string(out, sizeof(out)));
}

TEST(CheckName, NamesLongerThan259CharactersAreRefusedNotCut) {
  const std::string tail = kSep + ".#ZARLOCK.0";
  const std::string fits(259 - tail.size(), 'f');
  EXPECT_EQ(259u, name_of(kModeDouble, fits, 0).size());

  char out[260];
  std::memset(out, 'q', sizeof(out));
  EXPECT_EQ(-1, make_check_file_name(kModeDouble, (fits + "f").c_str(), 0, out));
  EXPECT_EQ(std::string(sizeof(out), 'q'), std::string(out, sizeof(out)));

  // The Single form with a folder at the 200-character limit of -h and -p:
  // refused exactly when host name and process id push it past 259.
  const std::string folder(200, 'g');
  const size_t full = folder.size() + kSep.size() + std::strlen(".#ZARLOCK.") + host_name().size() +
                      1 + std::to_string(GetCurrentProcessId()).size() + 2;
  std::memset(out, 'q', sizeof(out));
  EXPECT_EQ(full <= 259 ? 0 : -1, make_check_file_name(kModeSingle, folder.c_str(), 0, out));
  if (full <= 259) {
    EXPECT_EQ(full, std::strlen(out));
  }
}

}  // namespace
