// Full paths of the check files.
#include "fileops/check_name.h"

#include <cstdio>
#include <cstring>

#include "driver/run_options.h"
#include "platform/win32.h"

namespace {

const char kPrefix[] = ".#ZARLOCK";
constexpr int kMaxName = 259;  // a path buffer of 260 with its terminator

}  // namespace

int make_check_file_name(int32_t mode, const char* folder, int32_t n, char* out) {
  char host[256] = {};
  DWORD host_size = sizeof(host);
  char name[kMaxName + 1];
  int length;
  if (mode == kModeSingle) {
    if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &host_size)) return -1;
    const unsigned long pid = GetCurrentProcessId();
    length = std::snprintf(name, sizeof(name), "%s" ZARN_PATH_SEPARATOR "%s.%s.%lu.%d", folder,
                           kPrefix, host, pid, n);
  } else if (mode == kModeDouble) {
    length = std::snprintf(name, sizeof(name), "%s" ZARN_PATH_SEPARATOR "%s.%d", folder, kPrefix,
                           n);
  } else {
    return 0;
  }
  // A cut name could name another process's file: refuse it instead.
  if (length < 0 || length > kMaxName) return -1;
  std::memcpy(out, name, static_cast<size_t>(length) + 1);
  return 0;
}
