// POSIX layer: errno values as Windows error numbers.
#include "platform/posix/file_errors.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

namespace zarn_posix {

DWORD win_error_of(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    // A share without lock support: what a Windows client hears from a
    // server that does not support the request.
    case ENOLCK: return ERROR_NOT_SUPPORTED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    // A file the share will not let go while it is open (a FUSE SMB client
    // refuses to unlink a file its caller holds): a file server answers a
    // Windows client's deletion of a file in use with a sharing violation,
    // as Windows itself does for a file opened without delete sharing.
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EFAULT: return ERROR_NOACCESS;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD win_path_error_of(const char* path, int err) {
  if (err != ENOENT) return win_error_of(err);
  const char* slash = strrchr(path, '/');
  if (!slash) return ERROR_FILE_NOT_FOUND;  // the current folder exists
  std::string folder(path, static_cast<size_t>(slash - path));
  if (folder.empty()) folder = "/";
  struct stat st;
  if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

DWORD check_name(const char* path) {
  if (!path || !*path) return ERROR_PATH_NOT_FOUND;
  if (strnlen(path, 260) >= 260) return ERROR_FILENAME_EXCED_RANGE;
  return 0;
}

}  // namespace zarn_posix
