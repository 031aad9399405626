// Conformance of the file calls: dispositions and their error numbers, the
// read-only attribute.
#include "helpers.h"

#ifndef _WIN32
#include <errno.h>
#include <string.h>

#include "platform/posix/file_errors.h"
#endif

namespace {

TEST(Files, DispositionsGiveWindowsResultsAndNumbers) {
  enum Target { kAbsent, kExisting, kInMissingFolder, kFolder };
  const DWORD kAny = ~DWORD(0);
  struct Case {
    DWORD disposition;
    Target target;
    bool opens;
    DWORD error;          // the last error after the call (kAny: not documented)
    const char* content;  // the file's after the call
  } cases[] = {
      {CREATE_NEW, kExisting, false, ERROR_FILE_EXISTS, "12345"},
      {CREATE_ALWAYS, kAbsent, true, 0, ""},
      {CREATE_ALWAYS, kExisting, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, kAbsent, false, ERROR_FILE_NOT_FOUND, "-"},
      {OPEN_ALWAYS, kAbsent, true, 0, ""},
      {OPEN_ALWAYS, kExisting, true, ERROR_ALREADY_EXISTS, "12345"},
      {TRUNCATE_EXISTING, kAbsent, false, ERROR_FILE_NOT_FOUND, "-"},
      {TRUNCATE_EXISTING, kExisting, true, kAny, ""},
      {OPEN_ALWAYS, kInMissingFolder, false, ERROR_PATH_NOT_FOUND, "-"},
      {OPEN_ALWAYS, kFolder, false, ERROR_ACCESS_DENIED, nullptr},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::string path = dir.file("f" + std::to_string(&c - cases));
    if (c.target == kExisting) std::ofstream(path, std::ios::binary) << "12345";
    if (c.target == kInMissingFolder) path += ZARN_PATH_SEPARATOR "f";
    if (c.target == kFolder) path = dir.path();
    SCOPED_TRACE(path);
    SetLastError(12345);
    HANDLE h = open_file(path, kRW, 0, c.disposition);
    DWORD error = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(c.opens, h != INVALID_HANDLE_VALUE);
    EXPECT_TRUE(c.error == kAny || c.error == error) << error;
    EXPECT_TRUE(!c.content || c.content == read_file(path)) << read_file(path);
  }
}

TEST(Files, ReadOnlyFileRefusesWritingAndDeletion) {
  TempDir dir;
  std::string path = dir.file("f");
  std::ofstream(path, std::ios::binary) << "x";
#ifdef _WIN32
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
#else
  chmod(path.c_str(), 0444);
#endif
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY),
            GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(ERROR_ACCESS_DENIED, error_of(DeleteFileA(path.c_str())));
  if (on_wine()) {
    GTEST_SKIP() << "Wine deviation: Wine leaves the read-only attribute to the Unix "
                    "permissions, which do not stop root from writing";
  }
  for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS, TRUNCATE_EXISTING}) {  // root too
    EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, GENERIC_WRITE, kShareAll, disposition));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError()) << disposition;
  }
  EXPECT_EQ("x", read_file(path));
}

#ifndef _WIN32
// The layer's errno table: what a Windows client hears for each cause.  EBUSY
// (a share that will not let go of a file in use) is a sharing violation, as
// ETXTBSY is; an errno it does not know is a general failure.
TEST(Files, ErrnoValuesGiveWindowsNumbers) {
  const struct {
    int err;
    DWORD error;
  } rows[] = {
      {0, 0}, {ENOENT, 2}, {ENOTDIR, 3}, {ELOOP, 3}, {EACCES, 5}, {EPERM, 5}, {EISDIR, 5},
      {EROFS, 5}, {EBADF, 6}, {EEXIST, 80}, {ENAMETOOLONG, 206}, {EMFILE, 4}, {ENFILE, 4},
      {ENOSPC, 112}, {EDQUOT, 112}, {EFBIG, 112}, {ENOMEM, 8}, {ENOLCK, 50}, {EOPNOTSUPP, 50},
      {EINVAL, 87}, {EAGAIN, 33}, {ETXTBSY, 32}, {EBUSY, 32}, {EFAULT, 998}, {EIO, 31},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.error, zarn_posix::win_error_of(row.err)) << strerror(row.err);
  }
}
#endif

}  // namespace
