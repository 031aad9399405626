// Conformance of share modes: between two handles, two threads and two
// processes, DeleteFileA against open handles, and (POSIX) another program's
// whole-file lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "file_test_util.h"
#include "support/child.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, D = DELETE;
constexpr DWORD sR = FILE_SHARE_READ, sW = FILE_SHARE_WRITE, sD = FILE_SHARE_DELETE;

DWORD arg(const std::string& s) { return static_cast<DWORD>(std::strtoul(s.c_str(), nullptr, 0)); }

// args: path, access, share, ready file, release file.  Holds an open of the
// file until the release file appears; exits with 0, or the open's error.
ZARN_CHILD(share_hold_open) {
  HANDLE h = open_file(args[0], arg(args[1]), arg(args[2]), OPEN_ALWAYS);
  DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  touch_file(args[3]);
  if (!error) wait_for_file(args[4], 60000);
  if (!error) CloseHandle(h);
  return static_cast<int>(error);
}

// args: path, access, share.  Exits with 0 when the open succeeds, else its error.
ZARN_CHILD(share_try_open) {
  HANDLE h = open_file(args[0], arg(args[1]), arg(args[2]), OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  CloseHandle(h);
  return 0;
}

struct ShareCase {
  DWORD access1, share1, access2, share2;
  DWORD expected;  // 0 or ERROR_SHARING_VIOLATION for the second open
};

class SharePairs : public ::testing::TestWithParam<ShareCase> {};

TEST_P(SharePairs, SecondOpenFollowsWindowsRules) {
  const ShareCase& c = GetParam();
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE first = open_file(path, c.access1, c.share1, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  HANDLE second = open_file(path, c.access2, c.share2, OPEN_EXISTING);
  EXPECT_EQ(c.expected, second == INVALID_HANDLE_VALUE ? GetLastError() : 0);
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  // Closing the first open ends its claims.
  CloseHandle(first);
  second = open_file(path, c.access2, c.share2, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, second);
  CloseHandle(second);
}

constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;
INSTANTIATE_TEST_SUITE_P(
    Share, SharePairs,
    ::testing::Values(ShareCase{R, sR, R, sR, 0},                      //
                      ShareCase{R, sR, W, sR | sW, kViolation},        // first denies write
                      ShareCase{R, sR | sW, W, sR | sW, 0},            //
                      ShareCase{R | W, sR | sW, R, sR, kViolation},    // first holds write
                      ShareCase{R | W, 0, R, sR | sW | sD, kViolation},  //
                      ShareCase{W, sW, W, sW, 0},                      //
                      ShareCase{W, sR | sW | sD, R, sR, kViolation},   // second denies write
                      ShareCase{R, sR | sW | sD, D, sR | sW | sD, 0},  //
                      ShareCase{R, sR | sW, D, sR | sW | sD, kViolation},  // first denies delete
                      ShareCase{D, sR | sW | sD, R, sR | sW, kViolation},  // first holds delete
                      ShareCase{0, 0, R | W, 0, 0},                    // no access: no claims
                      ShareCase{R | W, 0, 0, 0, 0}));

TEST(Share, ThreadsOfOneProcessConflict) {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE held = INVALID_HANDLE_VALUE;
  std::thread holder([&] { held = open_file(path, kReadWrite, 0, CREATE_NEW); });
  holder.join();
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  DWORD error = 0;
  std::thread opener([&] {
    HANDLE h = open_file(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  });
  opener.join();
  EXPECT_EQ(ERROR_SHARING_VIOLATION, error);
  std::thread closer([&] { CloseHandle(held); });
  closer.join();
  HANDLE h = open_file(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
}

// Opens that race each other still exclude each other: the check and the
// claim of one open are a single step for every other.
TEST(Share, RacingOpensThatShareNothingNeverOverlap) {
  TempDir dir;
  std::string path = dir.file("f");
  std::atomic<int> inside{0}, most_inside{0}, granted{0}, other_errors{0};
  auto worker = [&] {
    for (int i = 0; i < 1000; ++i) {
      HANDLE h = open_file(path, kReadWrite, 0, OPEN_ALWAYS);
      if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_SHARING_VIOLATION) ++other_errors;
        continue;
      }
      int now = ++inside;
      int seen = most_inside.load();
      while (now > seen && !most_inside.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::yield();  // hold it a moment
      --inside;
      CloseHandle(h);
      ++granted;
    }
  };
  std::thread t1(worker), t2(worker), t3(worker);
  t1.join();
  t2.join();
  t3.join();
  EXPECT_EQ(1, most_inside.load());
  EXPECT_GT(granted.load(), 0);
  EXPECT_EQ(0, other_errors.load());
}

TEST(Share, ProcessesConflictUntilTheHolderDies) {
  TempDir dir;
  std::string path = dir.file("f");
  Child child;
  ASSERT_TRUE(start_child("share_hold_open",
                          {path, std::to_string(kReadWrite), std::to_string(sR), dir.file("ready"),
                           dir.file("never")},
                          &child));
  ASSERT_TRUE(wait_for_file(dir.file("ready"), 20000));
  // The child holds write access and shares only reading.
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, GENERIC_READ, sR, OPEN_EXISTING));  // denies its writing
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  HANDLE h = open_file(path, GENERIC_READ, sR | sW, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  kill_child(&child);
  EXPECT_TRUE(eventually([&] {
    h = open_file(path, GENERIC_READ, 0, OPEN_EXISTING);
    return h != INVALID_HANDLE_VALUE;
  }));

  // And the other way round: the parent's open refuses the child's.
  Child other;
  ASSERT_TRUE(start_child("share_try_open", {path, std::to_string(GENERIC_READ), std::to_string(kShareAll)},
                          &other));
  EXPECT_EQ(int(ERROR_SHARING_VIOLATION), wait_child(&other, 20000));
  CloseHandle(h);
}

TEST(Share, DeleteIsRefusedWhileAnOpenDoesNotShareIt) {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE h = open_file(path, kReadWrite, sR | sW, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
  CloseHandle(h);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));

  // An open that shares deletion does not stand in the way.
  h = open_file(path, kReadWrite, kShareAll, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  CloseHandle(h);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());

  // Nor one of another process that shares it; one that does not, does.
  for (DWORD share : {kShareAll, sR | sW}) {
    Child child;
    std::string ready = dir.file("ready" + std::to_string(share));
    std::string release = dir.file("release" + std::to_string(share));
    ASSERT_TRUE(start_child("share_hold_open",
                            {path, std::to_string(GENERIC_READ), std::to_string(share), ready, release},
                            &child));
    ASSERT_TRUE(wait_for_file(ready, 20000));
    BOOL deleted = DeleteFileA(path.c_str());
    EXPECT_EQ(share == kShareAll ? 0u : ERROR_SHARING_VIOLATION, last_error_of(deleted)) << share;
    touch_file(release);
    EXPECT_EQ(0, wait_child(&child, 20000));
    if (!deleted) {
      EXPECT_TRUE(DeleteFileA(path.c_str()));
    }
  }
}

TEST(Share, DeleteErrors) {
  TempDir dir;
  EXPECT_FALSE(DeleteFileA(dir.file("none").c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_FALSE(DeleteFileA((dir.file("missing") + ZARN_PATH_SEPARATOR + "f").c_str()));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_FALSE(DeleteFileA(dir.path().c_str()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(DeleteFileA(""));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());

  std::string path = dir.file("ro");
  write_file(path, "x");
  set_read_only(path, true);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  set_read_only(path, false);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

#ifndef _WIN32
// Another program's whole-file POSIX lock (office suites take one) counts as
// an open that holds the file and shares nothing.
enum class ForeignLock { kClassicWrite, kClassicRead, kOfdWrite };

class ForeignLocks : public ::testing::TestWithParam<ForeignLock> {};

TEST_P(ForeignLocks, MakeOpensFailWithSharingViolation) {
  TempDir dir;
  std::string path = dir.file("f");
  write_file(path, "data");
  int ready[2], release[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(release));
  bool read_lock = GetParam() == ForeignLock::kClassicRead;
  struct flock fl = {};
  fl.l_type = read_lock ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;  // l_start 0, l_len 0: the whole file, however long
  int cmd = GetParam() == ForeignLock::kOfdWrite ? F_OFD_SETLK : F_SETLK;
  const char* name = path.c_str();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {  // only async-signal-safe calls from here
    close(release[1]);
    int fd = open(name, read_lock ? O_RDONLY : O_RDWR);
    char ok = fd >= 0 && fcntl(fd, cmd, &fl) == 0 ? 1 : 0;
    if (write(ready[1], &ok, 1) != 1) _exit(2);
    char c;
    if (read(release[0], &c, 1) < 0) _exit(3);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(1, read(ready[0], &ok, 1));
  ASSERT_EQ(1, ok);

  for (DWORD access : {DWORD(GENERIC_READ), kReadWrite, DWORD(DELETE)}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, open_file(path, access, kShareAll, OPEN_EXISTING));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError()) << access;
  }
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  HANDLE h = open_file(path, 0, kShareAll, OPEN_EXISTING);  // asks nothing: not in the way
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);

  close(release[1]);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(0, status);
  h = open_file(path, kReadWrite, 0, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  for (int fd : {ready[0], ready[1], release[0]}) close(fd);
}

INSTANTIATE_TEST_SUITE_P(Share, ForeignLocks,
                         ::testing::Values(ForeignLock::kClassicWrite, ForeignLock::kClassicRead,
                                           ForeignLock::kOfdWrite));
#endif

}  // namespace
