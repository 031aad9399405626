// Conformance of byte-range locks that answer at once: conflicts between
// handles of one process and between processes, stacking, unlock rules,
// locks beyond the end of file, 64-bit ranges, locks dropped on close and
// with a killed holder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "file_test_util.h"
#include "support/child.h"
#include "support/temp_dir.h"

namespace {

constexpr DWORD kViolation = ERROR_LOCK_VIOLATION;

// The error of an unlock of a range the handle does not hold.
DWORD not_locked_error() { return on_wine() ? kViolation : ERROR_NOT_LOCKED; }

// Two handles on one new file, both overlapped, sharing everything.
struct TwoHandles {
  TempDir dir;
  std::string path = dir.file("f");
  HANDLE a = open_file(path, kReadWrite, kShareAll, CREATE_NEW);
  HANDLE b = open_file(path, kReadWrite, kShareAll, OPEN_EXISTING);
  ~TwoHandles() {
    CloseHandle(a);
    CloseHandle(b);
  }
};

// args: path, offset, ready file, release file.  Holds an exclusive lock of
// one byte until the release file appears; exits with 0 or the lock's error.
ZARN_CHILD(lock_hold) {
  HANDLE h = open_file(args[0], kReadWrite, kShareAll, OPEN_ALWAYS);
  DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError()
                                          : lock_range(h, std::strtoull(args[1].c_str(), nullptr, 0), true, true);
  touch_file(args[2]);
  if (!error) wait_for_file(args[3], 60000);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return static_cast<int>(error);
}

// args: path, offset, exclusive ("1"/"0").  Exits with the result of a
// lock that does not wait: 0 or its error.
ZARN_CHILD(lock_try) {
  HANDLE h = open_file(args[0], kReadWrite, kShareAll, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return 1000;
  DWORD error = lock_range(h, std::strtoull(args[1].c_str(), nullptr, 0), args[2] == "1", true);
  CloseHandle(h);
  return static_cast<int>(error);
}

TEST(Locks, ConflictsBetweenTwoHandlesOfOneProcess) {
  for (bool first_exclusive : {false, true}) {
    for (bool second_exclusive : {false, true}) {
      SCOPED_TRACE(std::to_string(first_exclusive) + std::to_string(second_exclusive));
      TwoHandles f;
      ASSERT_EQ(0u, lock_range(f.a, 0, first_exclusive, true));
      DWORD expected = first_exclusive || second_exclusive ? kViolation : 0;
      EXPECT_EQ(expected, lock_range(f.b, 0, second_exclusive, true));
      // Neighbouring bytes are free.
      EXPECT_EQ(0u, lock_range(f.b, 1, true, true));
    }
  }
}

TEST(Locks, OneHandleAgainstItself) {
  TwoHandles f;
  // An exclusive lock conflicts with the handle's own locks too.
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  EXPECT_EQ(kViolation, lock_range(f.a, 0, true, true));
  // A shared lock may stack on the handle's own exclusive lock...
  EXPECT_EQ(0u, lock_range(f.a, 0, false, true));
  EXPECT_EQ(kViolation, lock_range(f.b, 0, false, true));
  // ...and the exclusive one is released first.
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  EXPECT_EQ(0u, lock_range(f.b, 0, false, true));
  EXPECT_EQ(kViolation, lock_range(f.b, 0, true, true));
  EXPECT_EQ(0u, unlock_range(f.a, 0));
  EXPECT_EQ(0u, unlock_range(f.b, 0));

  // Shared locks of one handle stack and are counted.
  ASSERT_EQ(0u, lock_range(f.a, 5, false, true));
  ASSERT_EQ(0u, lock_range(f.a, 5, false, true));
  EXPECT_EQ(kViolation, lock_range(f.a, 5, true, true));
  EXPECT_EQ(0u, unlock_range(f.a, 5));
  EXPECT_EQ(kViolation, lock_range(f.b, 5, true, true));
  EXPECT_EQ(0u, unlock_range(f.a, 5));
  EXPECT_EQ(0u, lock_range(f.b, 5, true, true));
  EXPECT_EQ(not_locked_error(), unlock_range(f.a, 5)) << kWineUnlockUnheldGives33;
}

TEST(Locks, UnlockMustNameARangeTheHandleHolds) {
  TwoHandles f;
  EXPECT_EQ(not_locked_error(), unlock_range(f.a, 0)) << kWineUnlockUnheldGives33;
  ASSERT_EQ(0u, lock_range(f.a, 10, true, true, 4));
  EXPECT_EQ(not_locked_error(), unlock_range(f.a, 10, 1));  // part of it
  EXPECT_EQ(not_locked_error(), unlock_range(f.a, 11, 4));  // overlapping it
  EXPECT_EQ(not_locked_error(), unlock_range(f.b, 10, 4));  // another handle's
  EXPECT_EQ(kViolation, lock_range(f.b, 12, false, true));
  EXPECT_EQ(0u, unlock_range(f.a, 10, 4));
  EXPECT_EQ(0u, lock_range(f.b, 12, true, true));
}

TEST(Locks, RangesBeyondEndOfFileAndAbove4GiB) {
  TwoHandles f;
  const uint64_t k4G = uint64_t(1) << 32;
  ASSERT_EQ(0u, lock_range(f.a, 1000000, true, true));  // the file is empty
  EXPECT_EQ(kViolation, lock_range(f.b, 1000000, false, true));
  ASSERT_EQ(0u, lock_range(f.a, k4G + 1, true, true));  // OffsetHigh counts
  EXPECT_EQ(0u, lock_range(f.b, 1, true, true));
  EXPECT_EQ(kViolation, lock_range(f.b, k4G + 1, true, true));
  // A length above 4 GiB (high part set) covers what it says.
  ASSERT_EQ(0u, lock_range(f.a, 2 * k4G, false, true, k4G + 10));
  EXPECT_EQ(kViolation, lock_range(f.b, 3 * k4G + 9, true, true));
  EXPECT_EQ(0u, lock_range(f.b, 3 * k4G + 10, true, true));
  EXPECT_EQ(0u, unlock_range(f.a, 2 * k4G, k4G + 10));
  EXPECT_EQ(0u, lock_range(f.b, 3 * k4G + 9, true, true));
  // Overlapping ranges of different lengths conflict.
  ASSERT_EQ(0u, lock_range(f.a, 100, false, true, 10));
  EXPECT_EQ(kViolation, lock_range(f.b, 105, true, true, 20));
  EXPECT_EQ(0u, lock_range(f.b, 105, false, true, 20));
}

TEST(Locks, ClosingAHandleDropsItsLocks) {
  TwoHandles f;
  ASSERT_EQ(0u, lock_range(f.a, 0, true, true));
  ASSERT_EQ(0u, lock_range(f.a, 7, false, true));
  HANDLE c = open_file(f.path, kReadWrite, kShareAll, OPEN_EXISTING);
  ASSERT_EQ(0u, lock_range(c, 3, true, true));
  ASSERT_TRUE(CloseHandle(f.a));
  f.a = INVALID_HANDLE_VALUE;
  EXPECT_EQ(0u, lock_range(f.b, 0, true, true));
  EXPECT_EQ(0u, lock_range(f.b, 7, true, true));
  EXPECT_EQ(kViolation, lock_range(f.b, 3, true, true));  // another handle's lock stays
  CloseHandle(c);
}

TEST(Locks, ConflictsBetweenProcesses) {
  TempDir dir;
  std::string path = dir.file("f");
  Child child;
  ASSERT_TRUE(start_child("lock_hold", {path, "0", dir.file("ready"), dir.file("release")}, &child));
  ASSERT_TRUE(wait_for_file(dir.file("ready"), 20000));
  HANDLE h = open_file(path, kReadWrite, kShareAll, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(kViolation, lock_range(h, 0, true, true));
  EXPECT_EQ(kViolation, lock_range(h, 0, false, true));
  ASSERT_EQ(0u, lock_range(h, 1, false, true));

  // Our shared lock on byte 1 keeps another process from an exclusive one
  // but not from a shared one.
  Child other;
  ASSERT_TRUE(start_child("lock_try", {path, "1", "1"}, &other));
  EXPECT_EQ(int(kViolation), wait_child(&other, 20000));
  ASSERT_TRUE(start_child("lock_try", {path, "1", "0"}, &other));
  EXPECT_EQ(0, wait_child(&other, 20000));

  touch_file(dir.file("release"));
  EXPECT_EQ(0, wait_child(&child, 20000));
  EXPECT_EQ(0u, lock_range(h, 0, true, true));
  CloseHandle(h);
}

TEST(Locks, KilledHolderLosesItsLocks) {
  TempDir dir;
  std::string path = dir.file("f");
  Child child;
  ASSERT_TRUE(start_child("lock_hold", {path, "0", dir.file("ready"), dir.file("never")}, &child));
  ASSERT_TRUE(wait_for_file(dir.file("ready"), 20000));
  HANDLE h = open_file(path, kReadWrite, kShareAll, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(kViolation, lock_range(h, 0, true, true));
  kill_child(&child);
  EXPECT_TRUE(eventually([&] { return lock_range(h, 0, true, true) == 0; }));
  CloseHandle(h);
}

}  // namespace
