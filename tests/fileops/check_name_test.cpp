// Check-file names: both forms, the folder as given, refusal past 259 characters.
#include "fileops/check_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "base/run_options.h"
#include "platform/win32.h"

TEST(CheckName, FormsAndLengthLimit) {
  char host[256] = {};
  DWORD size = sizeof(host);
  ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &size));
  const std::string sep = ZARN_PATH_SEPARATOR, untouched(260, 'q');
  const std::string single = sep + ".#ZARLOCK." + host + "." + std::to_string(GetCurrentProcessId());
  const std::string fits(248 - sep.size(), 'f'), fits1(257 - single.size(), 'g');  // 259 in all
  using Case = std::tuple<int32_t, std::string, int32_t, int, std::string>;  // mode, folder, n: out
  for (const auto& [mode, folder, n, result, name] : std::vector<Case>{
           {kModeSingle, "share", 12, 0, "share" + single + ".12"},
           {kModeDouble, "share", 0, 0, "share" + sep + ".#ZARLOCK.0"},
           {kModeDouble, "a" + sep, 1, 0, "a" + sep + sep + ".#ZARLOCK.1"},  // the folder as given
           {kModeDouble, fits, 0, 0, fits + sep + ".#ZARLOCK.0"},            // 259 characters
           {kModeDouble, fits + "f", 0, -1, untouched},                      // refused, not cut
           {kModeSingle, fits1, 0, 0, fits1 + single + ".0"},
           {kModeSingle, fits1 + "g", 0, -1, untouched},
           {kModeUserApl, "share", 0, 0, untouched}}) {
    char out[260];
    std::fill(out, out + sizeof(out), 'q');
    EXPECT_EQ(result, make_check_file_name(mode, folder.c_str(), n, out)) << name;
    EXPECT_EQ(name, std::string(out, std::find(out, out + sizeof(out), '\0'))) << folder;
  }
}
