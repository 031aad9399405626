// Conformance of the file calls: dispositions and their error numbers, the
// read-only attribute, the replacing rename.
#include "helpers.h"

namespace {

void make_read_only(const std::string& path) {
#ifdef _WIN32
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
#else
  chmod(path.c_str(), 0444);
#endif
}

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
  make_read_only(path);
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
// FILE_FLAG_OPEN_REPARSE_POINT: never through a link, nothing but a regular
// file; here refused at once (Windows opens the link itself, which the tool's
// file layer then refuses).  What a name leads to stays as it was, and
// DeleteFileA removes a link, never its target.  Without the flag a link is
// followed: a log file may be one.
TEST(Files, NothingButAFileWhereTheLinkItselfIsAsked) {
  TempDir dir;
  const std::string target = dir.file("target"), link = dir.file("link");
  const std::string dangling = dir.file("dangling"), fifo = dir.file("fifo");
  std::ofstream(target, std::ios::binary) << "12345";
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  ASSERT_EQ(0, symlink(dir.file("nothing").c_str(), dangling.c_str()));
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0666));
  for (const std::string& name : {link, dangling, fifo}) {
    for (DWORD disposition = CREATE_NEW; disposition <= TRUNCATE_EXISTING; ++disposition) {
      for (DWORD access : {kRW, DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)}) {
        HANDLE h = CreateFileA(name.c_str(), access, 0, NULL, disposition,
                               FILE_FLAG_OVERLAPPED | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        EXPECT_EQ(INVALID_HANDLE_VALUE, h) << name << " " << disposition << " " << access;
        EXPECT_EQ(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED, GetLastError());
      }
    }
  }
  EXPECT_EQ("12345", read_file(target));
  HANDLE followed = open_file(link, kRW, 0, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, followed);
  CloseHandle(followed);
  for (const std::string& name : {link, dangling, fifo}) {
    EXPECT_EQ(0u, error_of(DeleteFileA(name.c_str()))) << name;
  }
  EXPECT_EQ(std::vector<std::string>{"target"}, dir.entries());
  EXPECT_EQ("12345", read_file(target));
}

#endif

// The JSON report's last step: its temporary file renamed over the report,
// which is replaced whole; never onto a folder or a read-only file, nor over
// anything without MOVEFILE_REPLACE_EXISTING; a link at the target is itself
// replaced, and what it pointed to stays as it was.
TEST(Files, MoveFileExReplacesTheTargetWhole) {
  TempDir dir;
  const std::string from = dir.file("new.tmp"), to = dir.file("report.json");
  const std::string read_only = dir.file("read-only"), other = dir.file("other");
  std::ofstream(to, std::ios::binary) << "old";
  std::ofstream(read_only, std::ios::binary) << "r";
  std::ofstream(other, std::ios::binary) << "other";
  make_read_only(read_only);
  const struct {
    std::string target;
    DWORD flags;
    DWORD error;
  } refused[] = {
      {to, 0, ERROR_ALREADY_EXISTS},
      {dir.path(), MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {read_only, MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
  };
  std::ofstream(from, std::ios::binary) << "new";
  for (const auto& r : refused) {
    // Wine deviation: the read-only attribute is left to the Unix permissions,
    // which do not stop root (as in ReadOnlyFileRefusesWritingAndDeletion).
    if (r.target == read_only && on_wine()) continue;
    EXPECT_EQ(r.error, error_of(MoveFileExA(from.c_str(), r.target.c_str(), r.flags))) << r.target;
  }
  EXPECT_EQ("old", read_file(to));
  EXPECT_EQ(DWORD(0), error_of(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)));
  EXPECT_EQ("new", read_file(to));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, error_of(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)));
#ifndef _WIN32
  const std::string link = dir.file("link.json");
  ASSERT_EQ(0, symlink(other.c_str(), link.c_str()));
  std::ofstream(from, std::ios::binary) << "new";
  EXPECT_EQ(DWORD(0), error_of(MoveFileExA(from.c_str(), link.c_str(), MOVEFILE_REPLACE_EXISTING)));
  struct stat st;
  EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISREG(st.st_mode));
  EXPECT_EQ("new", read_file(link));
  EXPECT_EQ("other", read_file(other));
#endif
}

}  // namespace
