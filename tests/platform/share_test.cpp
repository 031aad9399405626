// Share modes between handles and threads, and foreign whole-file locks.
#include "helpers.h"

namespace {

constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, D = DELETE;
constexpr DWORD sR = FILE_SHARE_READ, sW = FILE_SHARE_WRITE, sD = FILE_SHARE_DELETE;
constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;

DWORD open_error(const std::string& path, DWORD access, DWORD share) {
  HANDLE h = open_file(path, access, share, OPEN_EXISTING);
  return h == INVALID_HANDLE_VALUE ? GetLastError() : (CloseHandle(h), 0u);
}

// The second open is tried on this thread and on another one.
TEST(Share, SecondOpenFollowsWindowsRulesUntilTheFirstCloses) {
  const DWORD cases[][5] = {
      // first access, share; second access, share; the second's error
      {R, sR, R, sR, 0},
      {R, sR, W, sR | sW, kViolation},         // the first denies writing
      {R | W, sR | sW, R, sR, kViolation},     // the second denies the first's writing
      {R, sR | sW, D, kShareAll, kViolation},  // the first denies deletion
      {D, kShareAll, R, sR | sW, kViolation},  // the first deletes, the second denies it
      {R | W, sR | sW | sD, R | W | D, kShareAll, 0},
      {0, 0, R | W, 0, 0},  // no access: no claims
  };
  TempDir dir;
  std::string path = dir.file("f");
  for (const auto& c : cases) {
    HANDLE first = open_file(path, c[0], c[1], OPEN_ALWAYS);
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    DWORD on_thread = 1;
    std::thread([&] { on_thread = open_error(path, c[2], c[3]); }).join();
    EXPECT_EQ(c[4], on_thread) << &c - cases;
    EXPECT_EQ(c[4], open_error(path, c[2], c[3])) << &c - cases;
    CloseHandle(first);
    EXPECT_EQ(0u, open_error(path, c[2], c[3])) << &c - cases;
  }
}

// Opens that race each other still exclude each other: the check and the
// claim of one open are a single step for every other.
TEST(Share, RacingOpensThatShareNothingNeverOverlap) {
  TempDir dir;
  std::atomic<int> inside{0}, overlaps{0}, granted{0}, other_errors{0};
  auto worker = [&] {
    for (int i = 0; i < 1000; ++i) {
      HANDLE h = open_file(dir.file("f"), kRW, 0, OPEN_ALWAYS);
      if (h == INVALID_HANDLE_VALUE) {
        other_errors += GetLastError() != kViolation;
        continue;
      }
      overlaps += ++inside != 1;
      std::this_thread::yield();  // hold it a moment
      --inside;
      CloseHandle(h);
      ++granted;
    }
  };
  std::thread t1(worker), t2(worker), t3(worker);
  for (std::thread* t : {&t1, &t2, &t3}) t->join();
  EXPECT_EQ(0, overlaps.load());
  EXPECT_GT(granted.load(), 0);
  EXPECT_EQ(0, other_errors.load());
}

#ifndef _WIN32
// args: a file, a lock, a ready file, a release file.  Opens the file claiming
// nothing, takes a whole-file fcntl lock of it as another program does ("Pw",
// "Pr": a classic write or read lock; "Ow": an OFD write lock), makes the
// ready file and holds until the release file exists; exits 0, or 1 when the
// lock failed.
ZARN_CHILD(hold) {
  HANDLE h = open_file(args[0], 0, kShareAll, OPEN_ALWAYS);
  struct flock whole = {};  // l_start 0, l_len 0: the whole file, however long
  whole.l_type = args[1][1] == 'w' ? F_WRLCK : F_RDLCK;
  int failed = fcntl(open(args[0].c_str(), O_RDWR), args[1][0] == 'P' ? F_SETLK : F_OFD_SETLK, &whole) != 0;
  touch_file(args[2]);
  if (!failed) wait_for_file(args[3], 60000);
  CloseHandle(h);
  return failed;
}

// Another program's whole-file POSIX lock (office suites take one) counts as
// an open that holds the file and shares nothing.
TEST(Share, ForeignWholeFileLocksGiveSharingViolation) {
  TempDir dir;
  std::string path = dir.file("f");
  for (std::string taken : {"Pw", "Pr", "Ow"}) {
    Child child;
    ASSERT_TRUE(start_child("hold", {path, taken, dir.file(taken + ".ready"), dir.file(taken + ".release")}, &child));
    ASSERT_TRUE(wait_for_file(dir.file(taken + ".ready"), kLong));
    for (DWORD access : {R, kRW, D}) EXPECT_EQ(kViolation, open_error(path, access, kShareAll)) << taken;
    EXPECT_EQ(kViolation, error_of(DeleteFileA(path.c_str())));
    EXPECT_EQ(0u, open_error(path, 0, kShareAll));  // asks nothing: not in the way
    touch_file(dir.file(taken + ".release"));
    EXPECT_EQ(0, wait_child(&child, kLong));
    EXPECT_EQ(0u, open_error(path, kRW, 0));
  }
}
#endif

}  // namespace
