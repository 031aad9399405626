// POSIX layer, internal: open-file-description locks (F_OFD_SETLK, F_OFD_GETLK).
//
// OFD locks belong to the open file description, not to the process: two
// descriptors opened separately conflict even within one process, and
// closing one descriptor drops only its own locks.  Classic fcntl locks
// would do neither and are never used here.
#ifndef ZARN_PLATFORM_POSIX_OFD_H
#define ZARN_PLATFORM_POSIX_OFD_H

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>

namespace zarn_posix {

// Sets (F_RDLCK, F_WRLCK) or removes (F_UNLCK) this description's lock on
// [start, start + length); never waits.  0, or -1 with errno (EAGAIN or
// EACCES when another description holds a conflicting lock).
inline int ofd_set(int fd, short type, uint64_t start, uint64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  int r;
  do {
    r = fcntl(fd, F_OFD_SETLK, &fl);
  } while (r == -1 && errno == EINTR);
  return r;
}

// Asks whether a write lock on [start, start + length) would conflict with
// a lock of another description.  1 with *found filled when it would, 0 when
// not, -1 with errno when the file system cannot tell.
inline int ofd_find(int fd, uint64_t start, uint64_t length, struct flock* found) {
  found->l_type = F_WRLCK;
  found->l_whence = SEEK_SET;
  found->l_start = static_cast<off_t>(start);
  found->l_len = static_cast<off_t>(length);
  found->l_pid = 0;
  int r;
  do {
    r = fcntl(fd, F_OFD_GETLK, found);
  } while (r == -1 && errno == EINTR);
  if (r == -1) return -1;
  return found->l_type == F_UNLCK ? 0 : 1;
}

inline bool ofd_conflict_errno(int err) { return err == EAGAIN || err == EACCES; }

}  // namespace zarn_posix

#endif
