// Helpers of the file, share-mode and lock conformance tests.  The same
// tests run natively against the POSIX layer and, built with MinGW, against
// Wine's Win32; where Wine is known to differ from Windows they say so by
// name and expect Wine's behaviour there.
#ifndef ZARN_TESTS_PLATFORM_FILE_TEST_UTIL_H
#define ZARN_TESTS_PLATFORM_FILE_TEST_UTIL_H

#include <stdint.h>

#include <string>

#include "platform/win32.h"

// Wine's known deviations from Windows (observed with Wine 8.0).
constexpr const char* kWineLockWaitNeverCompletes =
    "Wine deviation: a waiting LockFileEx on an overlapped handle stays pending for ever "
    "and leaves OVERLAPPED.Internal untouched (async lock wait not implemented)";
constexpr const char* kWineUnlockUnheldGives33 =
    "Wine deviation: UnlockFileEx of a range not held gives ERROR_LOCK_VIOLATION, not "
    "ERROR_NOT_LOCKED";
constexpr const char* kWineReadOnlyNotForRoot =
    "Wine deviation: Wine leaves the read-only attribute to the Unix permissions, which do "
    "not stop root from writing";

// True when the binary runs under Wine (ntdll exports wine_get_version).
bool on_wine();

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

// CreateFileA with the tool's usual arguments; FILE_FLAG_OVERLAPPED unless
// `overlapped` is false.
HANDLE open_file(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                 bool overlapped = true);

// A record for `offset`, zeroed otherwise.
OVERLAPPED record_at(uint64_t offset, HANDLE event = NULL);

// LockFileEx of [offset, offset + length); returns 0 when granted, else the
// last error (ERROR_IO_PENDING for a request left waiting in *ov).
DWORD lock_range(HANDLE file, uint64_t offset, bool exclusive, bool fail_immediately,
                 uint64_t length = 1, OVERLAPPED* ov = nullptr);
// UnlockFileEx; 0 or the last error.
DWORD unlock_range(HANDLE file, uint64_t offset, uint64_t length = 1);

// An error number as the tests compare it: the last error after a FALSE.
DWORD last_error_of(BOOL ok);

// Clears every write bit of a file (the read-only attribute), or restores them.
void set_read_only(const std::string& path, bool read_only);

// Creates a file holding `content`.
void write_file(const std::string& path, const std::string& content);
std::string read_whole_file(const std::string& path);

// Polls `done` every 10 ms for up to `limit_ms` (a bound against hangs only).
template <class F>
bool eventually(F done, int limit_ms = 10000) {
  for (int waited = 0; waited < limit_ms; waited += 10) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

#endif
