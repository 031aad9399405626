// Conformance of the file calls: dispositions and their error numbers, names,
// attributes, the read-only attribute, reads and writes, bad handles.
#include <gtest/gtest.h>

#include <string>

#include "file_test_util.h"
#include "support/temp_dir.h"

namespace {

struct DispositionCase {
  DWORD disposition;
  bool exists;
  DWORD error;       // 0: a handle is expected
  DWORD last_error;  // after success, when the call documents it (else ~0)
  bool truncated;    // after success on an existing file
};

class Dispositions : public ::testing::TestWithParam<DispositionCase> {};

TEST_P(Dispositions, GiveWindowsResultsAndNumbers) {
  const DispositionCase& c = GetParam();
  TempDir dir;
  std::string path = dir.file("f");
  if (c.exists) write_file(path, "12345");
  SetLastError(12345);
  HANDLE h = open_file(path, kReadWrite, 0, c.disposition);
  if (c.error) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.exists, GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    return;
  }
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
  if (c.last_error != ~DWORD(0)) {
    EXPECT_EQ(c.last_error, GetLastError());
  }
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(c.exists && !c.truncated ? "12345" : "", read_whole_file(path));
}

const DWORD kAny = ~DWORD(0);
INSTANTIATE_TEST_SUITE_P(
    Files, Dispositions,
    ::testing::Values(DispositionCase{CREATE_NEW, false, 0, kAny, false},
                      DispositionCase{CREATE_NEW, true, ERROR_FILE_EXISTS, 0, false},
                      DispositionCase{CREATE_ALWAYS, false, 0, ERROR_SUCCESS, false},
                      DispositionCase{CREATE_ALWAYS, true, 0, ERROR_ALREADY_EXISTS, true},
                      DispositionCase{OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, 0, false},
                      DispositionCase{OPEN_EXISTING, true, 0, kAny, false},
                      DispositionCase{OPEN_ALWAYS, false, 0, ERROR_SUCCESS, false},
                      DispositionCase{OPEN_ALWAYS, true, 0, ERROR_ALREADY_EXISTS, false},
                      DispositionCase{TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, 0, false},
                      DispositionCase{TRUNCATE_EXISTING, true, 0, kAny, true}));

TEST(Files, MissingFolderFoldersAndBadNames) {
  TempDir dir;
  std::string in_missing = dir.file("missing") + ZARN_PATH_SEPARATOR + "f";
  for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(in_missing, kReadWrite, 0, disposition));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError()) << disposition;
  }
  // A folder is no file.
  for (DWORD access : {DWORD(GENERIC_READ), kReadWrite}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(dir.path(), access, kShareAll, OPEN_EXISTING));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(dir.path(), kReadWrite, kShareAll, OPEN_ALWAYS));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());

  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file("", kReadWrite, 0, OPEN_ALWAYS));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  std::string long_name = dir.file(std::string(300, 'x'));
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(long_name, kReadWrite, 0, OPEN_ALWAYS));
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, GetLastError());
}

TEST(Files, AttributesOfFilesAndFolders) {
  TempDir dir;
  std::string path = dir.file("f");
  write_file(path, "x");
  DWORD a = GetFileAttributesA(dir.path().c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, a);
  EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(a & FILE_ATTRIBUTE_READONLY);
  a = GetFileAttributesA(path.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, a);
  EXPECT_FALSE(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
#ifndef _WIN32
  EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, a);  // Windows adds its archive bit; POSIX has none
#endif

  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.file("none").c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  std::string in_missing = dir.file("missing") + ZARN_PATH_SEPARATOR + "f";
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(in_missing.c_str()));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

// The read-only attribute is reported, and it refuses write access and
// truncation; the POSIX build refuses them to root as well.
TEST(Files, ReadOnlyAttributeRefusesWriting) {
  TempDir dir;
  std::string path = dir.file("f");
  write_file(path, "x");
  set_read_only(path, true);
  DWORD a = GetFileAttributesA(path.c_str());
  EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY));
  HANDLE h = open_file(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  if (on_wine()) {
    set_read_only(path, false);
    GTEST_SKIP() << kWineReadOnlyNotForRoot;
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, kReadWrite, kShareAll, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, GENERIC_WRITE, kShareAll, OPEN_ALWAYS));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, GENERIC_READ, kShareAll, CREATE_ALWAYS));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, GENERIC_READ, kShareAll, TRUNCATE_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ("x", read_whole_file(path));
  set_read_only(path, false);
}

TEST(Files, OverlappedTransfersArePositionalAndComplete) {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE h = open_file(path, kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);  // manual: stays set for the check

  OVERLAPPED ov = record_at(3, event);
  DWORD n = 0;
  BOOL ok = WriteFile(h, "hello", 5, &n, &ov);
  if (!ok) {
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());  // Windows may finish it later
  }
  ASSERT_TRUE(GetOverlappedResult(h, &ov, &n, TRUE));
  EXPECT_EQ(5u, n);
  EXPECT_EQ(0u, ov.Internal);
  EXPECT_EQ(5u, ov.InternalHigh);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));

  char buf[16] = {};
  ov = record_at(0, event);
  ok = ReadFile(h, buf, sizeof buf, &n, &ov);
  if (!ok) {
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
  }
  ASSERT_TRUE(GetOverlappedResult(h, &ov, &n, TRUE));
  EXPECT_EQ(8u, n);
  EXPECT_EQ(std::string("\0\0\0hello", 8), std::string(buf, n));

  // Reading at or past the end of the file is an error with a record.
  ov = record_at(100, event);
  ok = ReadFile(h, buf, sizeof buf, &n, &ov);
  if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(h, &ov, &n, TRUE);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ERROR_HANDLE_EOF, GetLastError());

  // An overlapped handle needs a record.
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, NULL));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(WriteFile(h, buf, 1, &n, NULL));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(event);
  CloseHandle(h);
}

TEST(Files, SynchronousTransfersFollowTheFilePointer) {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE h = open_file(path, kReadWrite, 0, CREATE_NEW, false);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "abc", 3, &n, NULL));
  ASSERT_TRUE(WriteFile(h, "def", 3, &n, NULL));
  EXPECT_EQ(6u, SetFilePointer(h, 0, NULL, FILE_CURRENT));
  EXPECT_EQ(0u, SetFilePointer(h, 0, NULL, FILE_BEGIN));
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, NULL));
  EXPECT_EQ("abcdef", std::string(buf, n));
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, NULL));  // at the end: TRUE, nothing read
  EXPECT_EQ(0u, n);
  EXPECT_EQ(4u, SetFilePointer(h, -2, NULL, FILE_END));
  EXPECT_EQ(5u, SetFilePointer(h, 1, NULL, FILE_CURRENT));
  LONG high = 1;  // 64-bit distance: 2^32 + 7
  EXPECT_EQ(7u, SetFilePointer(h, 7, &high, FILE_BEGIN));
  EXPECT_EQ(1, high);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -10, NULL, FILE_BEGIN));
  EXPECT_NE(ERROR_SUCCESS, GetLastError());

  // A record on a synchronous handle gives the offset and moves the pointer.
  OVERLAPPED ov = record_at(1);
  ASSERT_TRUE(ReadFile(h, buf, 2, &n, &ov));
  EXPECT_EQ("bc", std::string(buf, n));
  EXPECT_EQ(3u, SetFilePointer(h, 0, NULL, FILE_CURRENT));
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  EXPECT_EQ("abcdef", read_whole_file(path));
}

TEST(Files, AccessOfTheHandleLimitsItsCalls) {
  TempDir dir;
  std::string path = dir.file("f");
  write_file(path, "abc");
  char buf[4];
  DWORD n;
  HANDLE r = open_file(path, GENERIC_READ, kShareAll, OPEN_EXISTING, false);
  HANDLE w = open_file(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING, false);
  ASSERT_NE(INVALID_HANDLE_VALUE, r);
  ASSERT_NE(INVALID_HANDLE_VALUE, w);
  EXPECT_FALSE(WriteFile(r, "x", 1, &n, NULL));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(FlushFileBuffers(r));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(ReadFile(w, buf, 1, &n, NULL));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  // Locks need only some access: exclusive through a read handle too.
  EXPECT_EQ(0u, lock_range(r, 0, true, true));
  EXPECT_EQ(ERROR_LOCK_VIOLATION, lock_range(w, 0, false, true));
  CloseHandle(r);
  CloseHandle(w);
}

TEST(Files, BadHandlesGiveInvalidHandle) {
  TempDir dir;
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);  // before the close: Windows reuses values
  HANDLE closed = open_file(dir.file("f"), kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, closed);
  ASSERT_TRUE(CloseHandle(closed));
  char buf[4] = {};
  DWORD n;
  for (HANDLE bad : {HANDLE(NULL), INVALID_HANDLE_VALUE, closed, event}) {
    OVERLAPPED ov = record_at(0);
    SCOPED_TRACE(reinterpret_cast<uintptr_t>(bad));
    EXPECT_FALSE(ReadFile(bad, buf, 1, &n, &ov));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(WriteFile(bad, buf, 1, &n, &ov));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ(ERROR_INVALID_HANDLE, lock_range(bad, 0, true, true));
    EXPECT_EQ(ERROR_INVALID_HANDLE, lock_range(bad, 0, true, false));
    EXPECT_EQ(ERROR_INVALID_HANDLE, unlock_range(bad, 0));
    EXPECT_FALSE(FlushFileBuffers(bad));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(bad, 0, NULL, FILE_BEGIN));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  }
  for (HANDLE bad : {HANDLE(NULL), closed}) {
    EXPECT_FALSE(CancelIoEx(bad, NULL));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  }
  CloseHandle(event);
}

#ifndef _WIN32
// Windows itself would fault or hang on these; the layer answers instead.
TEST(Files, LayerAnswersWhereWindowsWouldNot) {
  TempDir dir;
  HANDLE h = open_file(dir.file("f"), kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_FALSE(LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, NULL));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(UnlockFileEx(h, 0, 1, 0, NULL));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(GetOverlappedResult(h, NULL, NULL, FALSE));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  // A record that no request owns never blocks, whatever it says.
  OVERLAPPED stray = record_at(0);
  stray.Internal = STATUS_PENDING;
  EXPECT_FALSE(GetOverlappedResult(h, &stray, NULL, TRUE));
  EXPECT_EQ(ERROR_IO_INCOMPLETE, GetLastError());
  // Lock ranges start below 2^62: the range above carries the share modes.
  EXPECT_EQ(ERROR_INVALID_PARAMETER, lock_range(h, uint64_t(1) << 62, true, true));
  EXPECT_EQ(0u, lock_range(h, (uint64_t(1) << 62) - 1, true, true, 100));  // cut at 2^62
  // The share markers above 2^62 are untouched: h still shares nothing.
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(dir.file("f"), GENERIC_READ, kShareAll, OPEN_EXISTING));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_EQ(ERROR_INVALID_PARAMETER, lock_range(h, 2, true, true, ~uint64_t(0)));  // past 2^64
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(NULL));
  EXPECT_FALSE(DeleteFileA(NULL));
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(NULL, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
  CloseHandle(h);
}
#endif

}  // namespace
