// POSIX layer, internal: Windows error numbers for errno values and paths.
#ifndef ZARN_PLATFORM_POSIX_FILE_ERRORS_H
#define ZARN_PLATFORM_POSIX_FILE_ERRORS_H

#include "platform/win32.h"

namespace zarn_posix {

// The Windows error number for an errno value of a file operation.
DWORD win_error_of(int err);

// As win_error_of, except that a missing name is told apart as Windows does:
// ERROR_FILE_NOT_FOUND when its folder exists, ERROR_PATH_NOT_FOUND when the
// folder is missing.
DWORD win_path_error_of(const char* path, int err);

// Checks a name before any system call: ERROR_PATH_NOT_FOUND for NULL or
// empty, ERROR_FILENAME_EXCED_RANGE beyond 259 characters (MAX_PATH with its
// terminator), else 0.
DWORD check_name(const char* path);

}  // namespace zarn_posix

#endif
