// Share modes between handles, threads and processes (with locks between
// processes), DeleteFileA against open handles, foreign whole-file locks.
#include "helpers.h"

namespace {

constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, D = DELETE;
constexpr DWORD sR = FILE_SHARE_READ, sW = FILE_SHARE_WRITE, sD = FILE_SHARE_DELETE;
constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;

DWORD open_error(const std::string& path, DWORD access, DWORD share) {
  HANDLE h = open_file(path, access, share, OPEN_EXISTING);
  return h == INVALID_HANDLE_VALUE ? GetLastError() : (CloseHandle(h), 0u);
}

// A child that opens dir/f (OPEN_ALWAYS) and takes `taken` without waiting:
// "x<offset>" exclusive, "s<offset>" shared, "-" nothing; on POSIX "Pw",
// "Pr", "Ow" a whole-file write or read lock of fcntl (classic or OFD) as
// another program takes it.  Then it touches dir/<tag>.ready and holds until
// dir/<tag>.release exists; it exits with 0 or the first error.
ZARN_CHILD(hold) {
  auto number = [](const std::string& s) { return std::stoul(s, nullptr, 0); };
  HANDLE h = open_file(args[0], number(args[1]), number(args[2]), OPEN_ALWAYS);
  DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  const char kind = args[3][0];
  if (!error && (kind == 'x' || kind == 's')) error = lock(h, kind, number(args[3].substr(1)));
#ifndef _WIN32
  struct flock whole = {};  // l_start 0, l_len 0: the whole file, however long
  whole.l_type = args[3][1] == 'w' ? F_WRLCK : F_RDLCK;
  if (!error && (kind == 'P' || kind == 'O')) {
    error = fcntl(open(args[0].c_str(), O_RDWR), kind == 'P' ? F_SETLK : F_OFD_SETLK, &whole) != 0;
  }
#endif
  touch_file(args[4]);
  if (!error) wait_for_file(args[5], 60000);
  CloseHandle(h);
  return static_cast<int>(error);
}

bool start_holder(const TempDir& dir, const std::string& tag, DWORD access, DWORD share,
                  const std::string& taken, Child* child) {
  return start_child("hold", {dir.file("f"), std::to_string(access), std::to_string(share), taken,
                              dir.file(tag + ".ready"), dir.file(tag + ".release")}, child) &&
         wait_for_file(dir.file(tag + ".ready"), kLong);
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

TEST(Share, ProcessesConflictUntilReleaseOrDeath) {
  TempDir dir;
  std::string path = dir.file("f");
  Child child;
  ASSERT_TRUE(start_holder(dir, "h", kRW, sR, "x0", &child));  // shares reading only
  EXPECT_EQ(kViolation, open_error(path, W, kShareAll));
  EXPECT_EQ(kViolation, open_error(path, R, sR));  // denies the child's writing
  HANDLE h = open_file(path, R, sR | sW, OPEN_EXISTING);
  EXPECT_EQ(ERROR_LOCK_VIOLATION, lock(h, 'x', 0));
  EXPECT_EQ(ERROR_LOCK_VIOLATION, lock(h, 's', 0));
  touch_file(dir.file("h.release"));
  EXPECT_EQ(0, wait_child(&child, kLong));
  EXPECT_EQ(0u, lock(h, 'x', 0));
  CloseHandle(h);

  ASSERT_TRUE(start_holder(dir, "k", kRW, 0, "x5", &child));  // shares nothing
  EXPECT_EQ(kViolation, open_error(path, R, kShareAll));
  kill_child(&child);
  EXPECT_TRUE(eventually([&] { return (h = open_file(path, kRW, 0, OPEN_EXISTING)) != INVALID_HANDLE_VALUE; }));
  EXPECT_TRUE(eventually([&] { return lock(h, 'x', 5) == 0; }));
  CloseHandle(h);
}

TEST(Share, DeleteIsRefusedWhileAnOpenDoesNotShareIt) {
  TempDir dir;
  std::string path = dir.file("f");
  for (DWORD share : {sR | sW, kShareAll}) {
    DWORD expected = share & sD ? 0 : kViolation;
    HANDLE h = open_file(path, kRW, share, CREATE_NEW);
    EXPECT_EQ(expected, error_of(DeleteFileA(path.c_str()))) << share;
    CloseHandle(h);
    EXPECT_EQ(expected ? 0 : ERROR_FILE_NOT_FOUND, error_of(DeleteFileA(path.c_str())));
  }
}

#ifndef _WIN32
// Another program's whole-file POSIX lock (office suites take one) counts as
// an open that holds the file and shares nothing.
TEST(Share, ForeignWholeFileLocksGiveSharingViolation) {
  TempDir dir;
  std::string path = dir.file("f");
  for (std::string taken : {"Pw", "Pr", "Ow"}) {
    Child child;
    ASSERT_TRUE(start_holder(dir, taken, 0, kShareAll, taken, &child));  // its own open claims nothing
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
