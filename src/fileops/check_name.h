// Names of the check files.
#ifndef ZARN_FILEOPS_CHECK_NAME_H
#define ZARN_FILEOPS_CHECK_NAME_H

#include <stdint.h>

// Single: <folder><sep>.#ZARLOCK.<host>.<pid>.<n>; Double: <folder><sep>.#ZARLOCK.<n>;
// any other mode: out untouched, 0.  -1 (out untouched) when the host name is
// unavailable or the name would not fit in 259 characters.
int make_check_file_name(int32_t mode, const char* folder, int32_t n, char* out);

#endif
