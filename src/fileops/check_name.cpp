// Full paths of the check files.
#include "fileops/check_name.h"

#include <cstdio>
#include <cstring>

#include "base/run_options.h"
#include "platform/win32.h"

namespace {

const char kPrefix[] = ".#ZARLOCK";
constexpr int kMaxName = 259;  // a path buffer of 260 with its terminator

}  // namespace

int format_check_file_name(int32_t mode, const char* folder, int32_t n, char* out, size_t size) {
  if (mode == kModeSingle) {
    char host[256] = {};
    DWORD host_size = sizeof(host);
    if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &host_size)) return -1;
    const unsigned long pid = GetCurrentProcessId();
    return std::snprintf(out, size, "%s" ZARN_PATH_SEPARATOR "%s.%s.%lu.%d", folder, kPrefix, host,
                         pid, n);
  }
  if (mode == kModeDouble) {
    return std::snprintf(out, size, "%s" ZARN_PATH_SEPARATOR "%s.%d", folder, kPrefix, n);
  }
  return 0;
}

int make_check_file_name(int32_t mode, const char* folder, int32_t n, char* out) {
  if (mode != kModeSingle && mode != kModeDouble) return 0;
  char name[kMaxName + 1];
  const int length = format_check_file_name(mode, folder, n, name, sizeof(name));
  if (length < 0) return -1;
  // A cut name could name another process's file: refuse it instead.
  if (length > kMaxName) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  std::memcpy(out, name, static_cast<size_t>(length) + 1);
  return 0;
}

void name_check_file(int32_t mode, const char* folder, int32_t n, CheckFileName* name) {
  std::memset(name, 0, sizeof *name);
  if (make_check_file_name(mode, folder, n, name->path) == 0) {
    std::memcpy(name->shown, name->path, sizeof name->path);
    return;
  }
  name->error = GetLastError();
  format_check_file_name(mode, folder, n, name->shown, sizeof name->shown);
}
