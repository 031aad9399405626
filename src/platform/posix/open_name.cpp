// POSIX layer: opening a file by name, never hanging on a FIFO.
#include "platform/posix/open_name.h"

#include <errno.h>
#include <fcntl.h>

#include "platform/posix/file_errors.h"
#include "platform/posix/share_modes.h"

namespace zarn_posix {

int open_name(const char* name, int flags) {
  const int all = flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  for (int lease_waits = 0;; ++lease_waits) {
    const int fd = open(name, all, 0666);
    if (fd >= 0 || (errno != EINTR && errno != EWOULDBLOCK)) return fd;
    if (errno == EWOULDBLOCK) {
      if (lease_waits == 6000) return -1;
      pause_ms(10);
    }
  }
}

bool plain_file(int fd, bool devices, struct stat* st) {
  if (fstat(fd, st) != 0) return false;
  if (!S_ISREG(st->st_mode) && !(devices && S_ISCHR(st->st_mode))) {
    errno = EINVAL;
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

DWORD open_name_error(const char* name, int err) {
  struct stat st;
  // ELOOP: a link as the last component (O_NOFOLLOW), or a loop of links on
  // the way.  ENXIO: a FIFO without a reader opened for writing, a socket.
  if ((err == ELOOP || err == ENXIO) && lstat(name, &st) == 0 && !S_ISREG(st.st_mode) &&
      !S_ISDIR(st.st_mode)) {
    return ERROR_ACCESS_DENIED;
  }
  return win_path_error_of(name, err);
}

}  // namespace zarn_posix
