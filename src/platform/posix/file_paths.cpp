// POSIX layer: DeleteFileA and GetFileAttributesA, the calls that take a name.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/posix/file_errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/share_modes.h"

using namespace zarn_posix;

namespace {

int open_for_probe(const char* name, int access_flags) {
  int fd;
  do {
    fd = open(name, access_flags | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Unlinks a regular file unless an open of it denies delete sharing.  The
// guard keeps an open from slipping in between the look and the unlink.  A
// look at a stale file (see kStaleFile) gives kStaleFile: the unlink, which
// goes by name, would remove another file than the one looked at.
//
// Some shares refuse to unlink a file that the caller itself holds open
// (EBUSY; a FUSE SMB client does), the probe included.  There the probe lets
// the file go and the closed file is unlinked by name at once: an open that
// lands in between is not seen, the narrowest window such a share leaves (it
// keeps locks, and so share modes, to its own mount anyway).  An open that
// stays refuses that unlink too: a sharing violation, as it should be.
DWORD unlink_once(const char* name) {
  bool writable = true;
  int fd = open_for_probe(name, O_RDWR);
  if (fd < 0) {
    writable = false;
    fd = open_for_probe(name, O_RDONLY);
  }
  DWORD error = 0;
  bool busy = false;
  {
    ShareGuard guard(fd, writable);
    if (fd >= 0) error = guard.result() ? guard.result() : share_check_delete(fd);
    if (!error && unlink(name) != 0) {
      busy = errno == EBUSY && fd >= 0;
      if (!busy) error = win_path_error_of(name, errno);
    }
  }
  if (fd >= 0) close(fd);
  if (busy && unlink(name) != 0) error = win_path_error_of(name, errno);
  return error;
}

DWORD unlink_shared_file(const char* name) {
  return retry_while_stale([name] { return unlink_once(name); });
}

}  // namespace

BOOL DeleteFileA(LPCSTR name) {
  checkpoint();
  DWORD error = check_name(name);
  struct stat st;
  if (!error && lstat(name, &st) != 0) error = win_path_error_of(name, errno);
  if (!error) {
    if (S_ISDIR(st.st_mode)) {
      error = ERROR_ACCESS_DENIED;
    } else if (!S_ISREG(st.st_mode)) {
      if (unlink(name) != 0) error = win_path_error_of(name, errno);  // a link, a socket
    } else if (!(st.st_mode & 0222)) {
      error = ERROR_ACCESS_DENIED;  // the read-only attribute protects the file
    } else {
      error = unlink_shared_file(name);
    }
  }
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name) {
  checkpoint();
  DWORD error = check_name(name);
  struct stat st;
  if (!error && stat(name, &st) != 0) error = win_path_error_of(name, errno);
  if (error) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
  // No write bit for anyone is how file servers store the read-only
  // attribute; a read-only mount makes everything on it read-only.  Not
  // access(W_OK): root may write anything.
  bool read_only = !(st.st_mode & 0222);
  struct statvfs vfs;
  if (!read_only && statvfs(name, &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) read_only = true;
  if (read_only) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}
