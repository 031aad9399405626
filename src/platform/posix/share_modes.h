// POSIX layer, internal: Windows share modes between all opens of a file.
//
// Every open that asks for access leaves markers in a reserved lock range
// far beyond any byte the tool locks: a shared OFD lock on one byte per
// access right it holds (read, write, delete) and one per share right it
// denies.  A new open looks, under a short exclusive guard byte that
// serialises every check-and-mark, whether any other open denies what it asks
// or holds what it denies.  A closed handle gives its markers back, and a
// dead process's vanish with its descriptors, so either stops counting at
// once, on any host that sees the file system's locks.
//
// A lock of another program that covers the guard byte (a whole-file POSIX
// lock, as office suites take) counts as an open that holds everything and
// shares nothing.
#ifndef ZARN_PLATFORM_POSIX_SHARE_MODES_H
#define ZARN_PLATFORM_POSIX_SHARE_MODES_H

#include "platform/win32.h"

namespace zarn_posix {

// Holds the guard byte of one file for its lifetime.
class ShareGuard {
 public:
  // Waits while another opener holds the guard (briefly, by design).  Without
  // a writable descriptor, or on a file system without OFD locks, it goes on
  // unguarded.
  ShareGuard(int fd, bool writable);
  ~ShareGuard();
  ShareGuard(const ShareGuard&) = delete;
  ShareGuard& operator=(const ShareGuard&) = delete;
  // ERROR_SHARING_VIOLATION when another program's lock holds the file (or a
  // peer kept the guard for seconds), else 0.
  DWORD result() const { return result_; }

 private:
  int fd_;
  bool held_ = false;
  DWORD result_ = 0;
};

// Checks an open asking `rights` and granting `share` (kRight* bits) against
// every other open of the file and, when it fits, places its markers on
// `fd`, which keeps them until it is closed.  0 or ERROR_SHARING_VIOLATION.
// An open asking no access neither checks nor marks, as on Windows.
DWORD share_open(int fd, bool readable, bool writable, unsigned rights, unsigned share);

// ERROR_SHARING_VIOLATION while any open of the file does not share delete
// access, else 0.  Call it under a ShareGuard of the same file.
DWORD share_check_delete(int fd);

}  // namespace zarn_posix

#endif
