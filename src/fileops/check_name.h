// Names of the check files.
#ifndef ZARN_FILEOPS_CHECK_NAME_H
#define ZARN_FILEOPS_CHECK_NAME_H

#include <stddef.h>
#include <stdint.h>

#include "platform/win32.h"

// Single: <folder><sep>.#ZARLOCK.<host>.<pid>.<n>; Double: <folder><sep>.#ZARLOCK.<n>;
// any other mode: out untouched, 0.  -1 (out untouched) when the host name is
// unavailable (its reason in the last error) or the name would not fit in 259
// characters (ERROR_FILENAME_EXCED_RANGE).
int make_check_file_name(int32_t mode, const char* folder, int32_t n, char* out);

// The same name whole, into `out` of `size` characters (cut only to fit
// there), for a report that shows a name too long to be made; its whole
// length, 0 for any other mode, or -1 when the host name is unavailable.
int format_check_file_name(int32_t mode, const char* folder, int32_t n, char* out, size_t size);

// A check file's name: `path` to open it by, empty when no name can be made
// (`error` then says why: the name too long, say); `shown` for the report
// line that announces the open, whole even when too long to be a path.
struct CheckFileName {
  char path[261];
  char shown[520];
  DWORD error;
};
void name_check_file(int32_t mode, const char* folder, int32_t n, CheckFileName* name);

#endif
