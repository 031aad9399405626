// Helpers of the synchronisation tests: parties on threads, clocks, the
// names of the two synchronisation files.
#ifndef ZARN_TESTS_SYNC_HARNESS_H
#define ZARN_TESTS_SYNC_HARNESS_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "sync/sync.h"

using Clock = std::chrono::steady_clock;

inline double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}
inline double ms_between(Clock::time_point from, Clock::time_point to) {
  return 1000.0 * seconds_between(from, to);
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

inline std::string host_name() {
  char host[256] = {};
  DWORD size = sizeof(host);
  GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &size);
  return host;
}

// The Double-mode names, fixed so that two hosts meet.
const char kMasterName[] = ".#ZARLOCK.master";
const char kEndwaitName[] = "endwaitfile";

// Raw one-byte locks on a master file, as another implementation of the
// protocol would take them.
inline BOOL raw_lock(HANDLE master, DWORD offset, BOOL exclusive) {
  OVERLAPPED record = {};
  record.Offset = offset;
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return LockFileEx(master, flags, 0, 1, 0, &record);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Both parties of a pairing reach the same point, then go on together.
class Meeting {
 public:
  void meet() {
    const int ticket = arrived_.fetch_add(1) + 1;
    const int round_end = (ticket + 1) / 2 * 2;
    while (arrived_.load() < round_end) std::this_thread::yield();
  }

 private:
  std::atomic<int> arrived_{0};
};

#endif
