// POSIX layer: MoveFileExA, for a file in the same folder: one rename(2),
// which replaces the target whole in one step and follows no link at
// either name (a link at the target is itself replaced).
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include "platform/posix/file_errors.h"
#include "platform/posix/handles.h"

using namespace zarn_posix;

namespace {

// Windows refuses a target that is a folder, or a read-only file, with
// ERROR_ACCESS_DENIED; without MOVEFILE_REPLACE_EXISTING any target with
// ERROR_ALREADY_EXISTS.
DWORD target_refusal(const char* target, DWORD flags) {
  struct stat st;
  if (lstat(target, &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (!(flags & MOVEFILE_REPLACE_EXISTING)) return ERROR_ALREADY_EXISTS;
  if (S_ISREG(st.st_mode) && !(st.st_mode & 0222)) return ERROR_ACCESS_DENIED;
  return 0;
}

}  // namespace

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  checkpoint();
  DWORD error = check_name(existing);
  if (!error) error = check_name(target);
  struct stat st;
  if (!error && lstat(existing, &st) != 0) error = win_path_error_of(existing, errno);
  if (!error && flags & ~MOVEFILE_REPLACE_EXISTING) error = ERROR_INVALID_PARAMETER;
  if (!error) error = target_refusal(target, flags);
  if (!error && rename(existing, target) != 0) error = win_path_error_of(target, errno);
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
