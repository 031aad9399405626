// System calls: locale, path split.
#include <cerrno>

#include "helpers.h"

namespace {

#ifndef _WIN32
// args: LC_ALL, LC_MESSAGES, LANG, the LCID expected.  Here, unlike on
// Windows, the system locale is the process locale.
ZARN_CHILD(lcid_under) {
  setenv("LC_ALL", args[0].c_str(), 1);
  setenv("LC_MESSAGES", args[1].c_str(), 1);
  setenv("LANG", args[2].c_str(), 1);
  return GetSystemDefaultLCID() == std::stoul(args[3]) ? 0 : 1;
}

TEST(System, DefaultLcidFollowsTheProcessLocale) {
  const char* cases[][4] = {
      {"", "", "ja_JP.UTF-8", "1041"}, {"", "", "ja", "1041"}, {"", "", "C", "1033"}, {"", "", "", "1033"},
      {"", "", "jav_ID", "1033"},  // Javanese, not Japanese
      {"ja_JP.eucJP", "", "C", "1041"}, {"", "C", "ja_JP.UTF-8", "1033"},  // LC_ALL, LC_MESSAGES first
  };
  for (const auto& c : cases) {
    Child child;
    ASSERT_TRUE(start_child("lcid_under", {c[0], c[1], c[2], c[3]}, &child));
    EXPECT_EQ(0, wait_child(&child, kLong)) << c[0] << "/" << c[1] << "/" << c[2];
  }
}
#endif

#ifdef _WIN32
// The runtime library reports bad arguments to this handler before it
// returns the error; the default one would end the process.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}
#endif

TEST(System, SplitPath) {
#ifdef _WIN32
  _invalid_parameter_handler previous = _set_invalid_parameter_handler(ignore_invalid_parameter);
#endif
  struct Case {
    const char* path;
    size_t fname_size;
    errno_t rc;
    const char* parts;  // drive|dir|fname|ext
  } cases[] = {
      {"C:\\dir\\sub\\file.txt", 256, 0, "C:|\\dir\\sub\\|file|.txt"},
      {"C:file", 256, 0, "C:||file|"},
      {"/share/check/", 256, 0, "|/share/check/||"},  // trailing separator
      {"dir\\sub/name.tar.gz", 256, 0, "|dir\\sub/|name.tar|.gz"},
      {"dir/.", 256, 0, "|dir/||."},  // dot-only last component
      {"a.b/c", 256, 0, "|a.b/|c|"},  // a dot in a folder is no extension
      {"", 256, 0, "|||"},
      {"C:\\dir\\file.txt", 5, 0, "C:|\\dir\\|file|.txt"},  // "file" just fits
      {"C:\\dir\\file.txt", 4, ERANGE, "|||"},              // one that does not empties all
      {nullptr, 256, EINVAL, nullptr},
  };
  for (const Case& c : cases) {
    char drive[3] = "?", dir[256] = "?", fname[256] = "?", ext[256] = "?";
    EXPECT_EQ(c.rc, _splitpath_s(c.path, drive, sizeof drive, dir, sizeof dir, fname, c.fname_size, ext, sizeof ext));
    std::string parts = std::string(drive) + "|" + dir + "|" + fname + "|" + ext;
    EXPECT_TRUE(!c.parts || parts == c.parts) << c.path << " gave " << parts;
  }
#ifdef _WIN32
  _set_invalid_parameter_handler(previous);
#endif
}

}  // namespace
