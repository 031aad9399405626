// POSIX layer: the runtime library's _splitpath_s.
#include <errno.h>
#include <string.h>

#include "platform/posix/threads.h"

namespace {

struct Part {
  char* buffer;
  size_t size;
};

bool valid(const Part& p) { return (p.buffer == nullptr) == (p.size == 0); }

void clear(const Part& p) {
  if (p.buffer != nullptr && p.size > 0) p.buffer[0] = '\0';
}

}  // namespace

// drive: "X:" when the path starts with one; dir: up to and including the
// last '\' or '/'; fname: the rest up to its last '.'; ext: from that dot.
// A NULL buffer with size 0 skips its part.
errno_t _splitpath_s(const char* path, char* drive, size_t drive_size, char* dir, size_t dir_size,
                     char* fname, size_t fname_size, char* ext, size_t ext_size) {
  zarn_posix::checkpoint();
  const Part parts[4] = {{drive, drive_size}, {dir, dir_size}, {fname, fname_size}, {ext, ext_size}};
  bool ok = path != nullptr;
  for (const Part& p : parts) ok = ok && valid(p);
  if (!ok) {
    for (const Part& p : parts) clear(p);
    return EINVAL;
  }
  size_t len = strlen(path);
  size_t drive_end = (len >= 2 && path[1] == ':') ? 2 : 0;
  size_t dir_end = drive_end;
  for (size_t i = drive_end; i < len; ++i) {
    if (path[i] == '\\' || path[i] == '/') dir_end = i + 1;
  }
  size_t ext_start = len;
  for (size_t i = len; i > dir_end; --i) {
    if (path[i - 1] == '.') {
      ext_start = i - 1;
      break;
    }
  }
  const size_t bounds[5] = {0, drive_end, dir_end, ext_start, len};
  for (int i = 0; i < 4; ++i) {
    if (parts[i].buffer != nullptr && bounds[i + 1] - bounds[i] + 1 > parts[i].size) {
      for (const Part& p : parts) clear(p);
      return ERANGE;
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (parts[i].buffer == nullptr) continue;
    size_t n = bounds[i + 1] - bounds[i];
    memcpy(parts[i].buffer, path + bounds[i], n);
    parts[i].buffer[n] = '\0';
  }
  return 0;
}
