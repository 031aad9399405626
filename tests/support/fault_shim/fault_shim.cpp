// Test support: the faults of an unkind share, put into the tool with
// LD_PRELOAD.  Only the tests set its variables:
//   ZARN_FAULT_DIR      the folder that plays the share (an absolute path)
//   ZARN_FAULT_OPEN_MS  every open() of a path under it first waits this
//                       long, as on a slow network share
//   ZARN_FAULT_WRITE_MS every pwrite() to a file under it likewise
//   ZARN_FAULT_NOLCK    set: every OFD lock request (set, wait, get) on a file
//                       under it fails with ENOLCK, as on a share without
//                       lock support
//   ZARN_FAULT_NOLCK_SECOND  set: the same, only through the descriptors of
//                       the second check file that a thread other than the
//                       main one opens under it (the lock test's partner
//                       thread on the main thread's file)
//   ZARN_FAULT_UNLINK_BUSY  set: unlink() of a file under it fails with EBUSY
//                       while the calling process holds the file open, as
//                       a FUSE SMB client (smbnetfs) refuses it
// Without ZARN_FAULT_DIR it changes nothing.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// Read once, at the first call that asks.
struct Faults {
  const char* dir = getenv("ZARN_FAULT_DIR");
  size_t dir_length = dir != nullptr ? strlen(dir) : 0;
  long open_ms = getenv("ZARN_FAULT_OPEN_MS") != nullptr ? atol(getenv("ZARN_FAULT_OPEN_MS")) : 0;
  long write_ms = getenv("ZARN_FAULT_WRITE_MS") != nullptr ? atol(getenv("ZARN_FAULT_WRITE_MS")) : 0;
  bool no_locks = getenv("ZARN_FAULT_NOLCK") != nullptr;
  bool no_second_locks = getenv("ZARN_FAULT_NOLCK_SECOND") != nullptr;
  bool unlink_busy = getenv("ZARN_FAULT_UNLINK_BUSY") != nullptr;
};

const Faults& faults() {
  static const Faults f;
  return f;
}

// The descriptors whose lock requests fail (ZARN_FAULT_NOLCK_SECOND).
const int kMaxFd = 4096;
bool refused_fds[kMaxFd];

bool under_share(const char* path) {
  const Faults& f = faults();
  return f.dir_length != 0 && path != nullptr && strncmp(path, f.dir, f.dir_length) == 0 &&
         (path[f.dir_length] == '/' || path[f.dir_length] == '\0');
}

void slow_down(const char* path, long ms) {
  if (ms <= 0 || !under_share(path)) return;
  struct timespec pause = {ms / 1000, ms % 1000 * 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// The path that descriptor `fd` stands for; false when unknown.
bool path_of(int fd, char (&path)[4096]) {
  char link[40];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return true;
}

bool lock_refused(int fd, int cmd) {
  if (cmd != F_OFD_SETLK && cmd != F_OFD_SETLKW && cmd != F_OFD_GETLK) return false;
  if (faults().no_second_locks) {
    return fd >= 0 && fd < kMaxFd && __atomic_load_n(&refused_fds[fd], __ATOMIC_RELAXED);
  }
  char path[4096];
  return faults().no_locks && path_of(fd, path) && under_share(path);
}

// A descriptor just opened: refused when it is one of a second check file
// (not a synchronisation file) that a thread other than the main one opens.
void note_open(int fd) {
  if (!faults().no_second_locks || fd < 0 || fd >= kMaxFd) return;
  thread_local char first[4096];  // the first check file this thread opened
  char path[4096];
  bool refused = false;
  if (syscall(SYS_gettid) != getpid() && path_of(fd, path) && under_share(path)) {
    const char* name = strrchr(path, '/') + 1;
    if (strncmp(name, ".#ZARLOCK.", 10) == 0 && strstr(name, ".master") == nullptr) {
      if (first[0] == '\0') memcpy(first, path, sizeof path);
      refused = strcmp(first, path) != 0;
    }
  }
  __atomic_store_n(&refused_fds[fd], refused, __ATOMIC_RELAXED);
}

// Whether this process has a descriptor open on the file `path` names.
bool held_open(const char* path) {
  struct stat file;
  if (lstat(path, &file) != 0) return false;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return false;
  bool held = false;
  // stat() through /proc, not fstat(): another thread may be opening or
  // closing a descriptor of that number right now.
  for (struct dirent* entry; !held && (entry = readdir(fds)) != nullptr;) {
    char link[300];
    snprintf(link, sizeof link, "/proc/self/fd/%s", entry->d_name);
    struct stat open_file;
    held = entry->d_name[0] != '.' && stat(link, &open_file) == 0 &&
           open_file.st_dev == file.st_dev && open_file.st_ino == file.st_ino;
  }
  closedir(fds);
  return held;
}

template <class F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// The tool calls open(), fcntl() and unlink() by these names (no 64-bit aliases on
// the 64-bit builds).
extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
  va_end(args);
  slow_down(path, faults().open_ms);
  static const auto real = next<int (*)(const char*, int, ...)>("open");
  const int fd = real(path, flags, mode);
  note_open(fd);
  return fd;
}

int fcntl(int fd, int cmd, ...) {
  va_list args;
  va_start(args, cmd);
  void* arg = va_arg(args, void*);  // an int or a pointer, passed on as it came
  va_end(args);
  if (lock_refused(fd, cmd)) {
    errno = ENOLCK;
    return -1;
  }
  static const auto real = next<int (*)(int, int, ...)>("fcntl");
  return real(fd, cmd, arg);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  char path[4096];
  if (faults().write_ms > 0 && path_of(fd, path)) slow_down(path, faults().write_ms);
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return real(fd, data, size, offset);
}

int unlink(const char* path) {
  if (faults().unlink_busy && under_share(path) && held_open(path)) {
    errno = EBUSY;
    return -1;
  }
  static const auto real = next<int (*)(const char*)>("unlink");
  return real(path);
}

}  // extern "C"
