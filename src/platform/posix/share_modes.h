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

// What the guard and share_open give for a descriptor of a file that the
// file server no longer has (ESTALE): a client that caches names (FUSE's
// entry cache) opened, by a name that another host has deleted and perhaps
// made again meanwhile, the file that name used to name.  Windows never
// hands out such a handle: the caller opens the name again
// (retry_while_stale).
constexpr DWORD kStaleFile = 0xFFFFFFFFu;

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
  // peer kept the guard for seconds), kStaleFile, else 0.
  DWORD result() const { return result_; }

 private:
  int fd_;
  bool held_ = false;
  DWORD result_ = 0;
};

// Checks an open asking `rights` and granting `share` (kRight* bits) against
// every other open of the file and, when it fits, places its markers on
// `fd`, which keeps them until it is closed.  0, ERROR_SHARING_VIOLATION or
// kStaleFile.
// An open asking no access neither checks nor marks, as on Windows.
DWORD share_open(int fd, bool readable, bool writable, unsigned rights, unsigned share);

// ERROR_SHARING_VIOLATION while any open of the file does not share delete
// access, else 0.  Call it under a ShareGuard of the same file.
DWORD share_check_delete(int fd);

void pause_ms(long ms);

// Runs `attempt` again, every 50 ms, while it gives kStaleFile, until the
// client's cached name has expired (a second or so); after five seconds
// ERROR_GEN_FAILURE.  Otherwise what `attempt` gives.
template <class Attempt>
DWORD retry_while_stale(Attempt attempt) {
  for (int tries = 0; tries < 100; ++tries) {
    DWORD result = attempt();
    if (result != kStaleFile) return result;
    pause_ms(50);
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace zarn_posix

#endif
