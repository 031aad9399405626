// Helpers of the conformance tests, run natively on the POSIX layer and under
// Wine, where they expect Wine's known deviations from Windows by name.
#ifndef ZARN_TESTS_PLATFORM_HELPERS_H
#define ZARN_TESTS_PLATFORM_HELPERS_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/child.h"
#include "support/temp_dir.h"
#include "support/wine.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr int kLong = 20000;  // a bound against hangs, never a speed requirement

inline DWORD error_of(BOOL ok) { return ok ? 0 : GetLastError(); }

inline HANDLE open_file(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, NULL, disposition, FILE_FLAG_OVERLAPPED, NULL);
}

// LockFileEx ('x' exclusive, 's' shared) or UnlockFileEx ('u') of [offset, offset + length):
// 0 or the error.  A lock waits only in `wait` (ERROR_IO_PENDING), with its event.
inline DWORD lock(HANDLE file, char kind, uint64_t offset, uint64_t length = 1, OVERLAPPED* wait = nullptr) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  ov.hEvent = wait ? wait->hEvent : NULL;
  DWORD low = static_cast<DWORD>(length), high = static_cast<DWORD>(length >> 32);
  if (kind == 'u') return error_of(UnlockFileEx(file, 0, low, high, &ov));
  if (wait) *wait = ov;
  DWORD flags = (kind == 'x' ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  return error_of(LockFileEx(file, flags, 0, low, high, wait ? wait : &ov));
}

template <class F>
bool eventually(F done) {
  for (int waited = 0; !done(); waited += 10) {
    if (waited >= kLong) return false;
    Sleep(10);
  }
  return true;
}

#endif
