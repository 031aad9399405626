// POSIX layer, internal: opening a file by name without hanging on what is
// not a file, and without going through a link where the caller forbids it.
#ifndef ZARN_PLATFORM_POSIX_OPEN_NAME_H
#define ZARN_PLATFORM_POSIX_OPEN_NAME_H

#include <sys/stat.h>

#include "platform/win32.h"

namespace zarn_posix {

// open(name, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666), again after
// EINTR.  O_NONBLOCK, so that a FIFO at the name never holds the open up;
// a file server's lease on the file then fails the open with EWOULDBLOCK
// while the server breaks it, and the open is tried again (every 10 ms, for
// at most a minute: the kernel breaks a lease within lease-break-time), as a
// Windows open waits for an oplock break.  The descriptor keeps O_NONBLOCK
// until plain_file() has looked at it.  -1 with errno on failure.
int open_name(const char* name, int flags);

// Whether `fd` (opened by open_name) is a regular file, or with `devices` a
// character device (/dev/null, as NUL on Windows); then it clears O_NONBLOCK.
// *st is the descriptor's fstat.  False with errno EINVAL for anything else
// (a FIFO, a socket, a folder), or fstat's errno.
bool plain_file(int fd, bool devices, struct stat* st);

// The Windows number for a failed open of `name` with O_NOFOLLOW (errno
// `err`): a symbolic link, FIFO or socket at the name is refused as a name
// that cannot be opened as a file, with ERROR_ACCESS_DENIED, the number
// Windows gives for a folder opened as a file and a file server gives a
// Windows client for a link it does not follow.  Otherwise win_path_error_of.
DWORD open_name_error(const char* name, int err);

}  // namespace zarn_posix

#endif
