// Process and system calls: locale, message texts, host name, memory, path
// split, last error.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32.h"
#include "support/child.h"
#include "support/wine.h"

#ifndef _WIN32
#include <unistd.h>
#endif

ZARN_CHILD(print_lcid) {
  std::printf("%lu", static_cast<unsigned long>(GetSystemDefaultLCID()));
  return 0;
}

#ifndef _WIN32
// On Windows the system locale is a setting of the system, not of the
// environment; here it is the process locale.
TEST(System, DefaultLcidFollowsTheProcessLocale) {
  auto lcid = [](const char* lc_all, const char* lc_messages, const char* lang) {
    ProcessResult r = run_process({self_path(), "--zarn-child", "print_lcid"},
                                  {{"LC_ALL", lc_all}, {"LC_MESSAGES", lc_messages}, {"LANG", lang}},
                                  20000);
    return r.out;
  };
  EXPECT_EQ("1041", lcid("", "", "ja_JP.UTF-8"));
  EXPECT_EQ("1041", lcid("", "", "ja"));
  EXPECT_EQ("1033", lcid("", "", "C"));
  EXPECT_EQ("1033", lcid("", "", ""));
  EXPECT_EQ("1033", lcid("", "", "jav_ID"));       // Javanese, not Japanese
  EXPECT_EQ("1041", lcid("ja_JP.eucJP", "", "C"));  // LC_ALL first
  EXPECT_EQ("1033", lcid("", "C", "ja_JP.UTF-8"));  // then LC_MESSAGES
}
#endif

namespace {

// Every number the layer sets; Windows has texts for all of them too.
const DWORD kLayerErrors[] = {2,  3,  4,   5,   6,   8,   14,  19,  31,  32,  33,  38,  50,  80,  87, 111,
                              112, 122, 123, 158, 183, 206, 234, 487, 995, 996, 997, 998, 1168};

const DWORD kReportFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;

}  // namespace

TEST(System, FormatMessageTextsOnOneLine) {
  EXPECT_EQ(0x13FFu, kReportFlags);
  for (DWORD number : kLayerErrors) {
    char* text = nullptr;
    DWORD n = FormatMessageA(kReportFlags, nullptr, number, LANG_USER_DEFAULT,
                             reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(0u, n) << number;
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(n, std::strlen(text)) << number;
    EXPECT_EQ(nullptr, std::strpbrk(text, "\r\n")) << number << ": " << text;
    EXPECT_EQ(nullptr, LocalFree(text));
  }

  // Without the flag the text keeps its line break; a fixed buffer works too.
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_SHARING_VIOLATION, 0, buf, sizeof buf, nullptr);
  ASSERT_GT(n, 2u);
  EXPECT_EQ(n, std::strlen(buf));
  EXPECT_EQ("\r\n", std::string(buf + n - 2));
}

TEST(System, FormatMessageFailures) {
  char* text = nullptr;
  SetLastError(0);
  // A number with the customer bit is never a system message.
  EXPECT_EQ(0u, FormatMessageA(kReportFlags, nullptr, 0x20000001u, LANG_USER_DEFAULT,
                               reinterpret_cast<LPSTR>(&text), 0, nullptr));
  EXPECT_EQ(317u, GetLastError());  // ERROR_MR_MID_NOT_FOUND

  char small[4];
  SetLastError(0);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               ERROR_FILE_NOT_FOUND, 0, small, sizeof small, nullptr));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST(System, ComputerNameSizeRules) {
  DWORD size = 0;
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, nullptr, &size));
  EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
  ASSERT_GT(size, 1u);  // the length needed, with its terminator
  const DWORD needed = size;

  char buf[256];
  size = needed - 1;
  EXPECT_FALSE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, buf, &size));
  EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
  EXPECT_EQ(needed, size);

  size = needed;
  ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, buf, &size));
  EXPECT_EQ(needed - 1, size);  // the length, without the terminator
  EXPECT_EQ(size, std::strlen(buf));
#ifndef _WIN32
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_STREQ(host, buf);
#endif

  size = sizeof buf;
  ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsHostname, buf, &size));
  EXPECT_EQ(nullptr, std::strchr(buf, '.'));
}

TEST(System, VirtualAllocGivesZeroedMemory) {
  const SIZE_T size = 3 * 4096 + 100;
  auto* p = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, p);
  bool zero = true;
  for (SIZE_T i = 0; i < size; ++i) zero = zero && p[i] == 0;
  EXPECT_TRUE(zero);
  p[size - 1] = 7;
  EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
}

namespace {
std::atomic<DWORD> seen_in_thread{0};
DWORD WINAPI set_own_error(LPVOID) {
  SetLastError(ERROR_ACCESS_DENIED);
  Sleep(20);
  seen_in_thread = GetLastError();
  return 0;
}
}  // namespace

TEST(System, LastErrorBelongsToItsThread) {
  SetLastError(ERROR_LOCK_VIOLATION);
  HANDLE thread = CreateThread(nullptr, 0, set_own_error, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, 20000);
  CloseHandle(thread);
  EXPECT_EQ(ERROR_ACCESS_DENIED, seen_in_thread.load());
  EXPECT_EQ(ERROR_LOCK_VIOLATION, GetLastError());
}

namespace {

struct Split {
  errno_t rc;
  std::string drive, dir, fname, ext;
};

Split split(const char* path, size_t fname_size = 256) {
  char drive[3] = "?", dir[256] = "?", fname[256] = "?", ext[256] = "?";
  Split s;
  s.rc = _splitpath_s(path, drive, sizeof drive, dir, sizeof dir, fname, fname_size, ext, sizeof ext);
  s.drive = drive;
  s.dir = dir;
  s.fname = fname;
  s.ext = ext;
  return s;
}

void expect_split(const char* path, const char* drive, const char* dir, const char* fname,
                  const char* ext) {
  Split s = split(path);
  EXPECT_EQ(0, s.rc) << path;
  EXPECT_EQ(drive, s.drive) << path;
  EXPECT_EQ(dir, s.dir) << path;
  EXPECT_EQ(fname, s.fname) << path;
  EXPECT_EQ(ext, s.ext) << path;
}

#ifdef _WIN32
// The runtime library reports bad arguments to this handler before it
// returns the error; the default one would end the process.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}
#endif

}  // namespace

TEST(System, SplitPath) {
#ifdef _WIN32
  _invalid_parameter_handler previous = _set_invalid_parameter_handler(ignore_invalid_parameter);
#endif
  expect_split("C:\\dir\\sub\\file.txt", "C:", "\\dir\\sub\\", "file", ".txt");
  expect_split("C:file", "C:", "", "file", "");
  expect_split("/share/check/", "", "/share/check/", "", "");  // trailing separator
  expect_split("dir\\sub/name.tar.gz", "", "dir\\sub/", "name.tar", ".gz");
  expect_split("dir/.", "", "dir/", "", ".");  // dot-only last component
  expect_split("a.b/c", "", "a.b/", "c", "");  // a dot in a folder is no extension
  expect_split("name", "", "", "name", "");    // bare name
  expect_split("", "", "", "", "");

  // Only the parts asked for.
  char fname[16];
  EXPECT_EQ(0, _splitpath_s("x/y/z.q", nullptr, 0, nullptr, 0, fname, sizeof fname, nullptr, 0));
  EXPECT_STREQ("z", fname);

  // A part that does not fit empties every buffer.
  Split s = split("C:\\dir\\file.txt", 4);
  EXPECT_EQ(ERANGE, s.rc);
  EXPECT_EQ("", s.drive);
  EXPECT_EQ("", s.dir);
  EXPECT_EQ("", s.fname);
  EXPECT_EQ("", s.ext);
  EXPECT_EQ(0, split("C:\\dir\\file.txt", 5).rc);  // "file" and its terminator

  EXPECT_EQ(EINVAL, split(nullptr).rc);
  EXPECT_EQ(EINVAL, _splitpath_s("a", nullptr, 3, nullptr, 0, nullptr, 0, nullptr, 0));
#ifdef _WIN32
  _set_invalid_parameter_handler(previous);
#endif
}
