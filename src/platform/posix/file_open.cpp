// POSIX layer: CreateFileA and the life of a file handle.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "platform/posix/file_errors.h"
#include "platform/posix/file_object.h"
#include "platform/posix/lock_waiters.h"
#include "platform/posix/locks.h"
#include "platform/posix/ofd.h"
#include "platform/posix/open_name.h"
#include "platform/posix/share_modes.h"

namespace zarn_posix {

FileObject::~FileObject() { close_descriptors(); }

void FileObject::close_descriptors() {
  // Some shares keep a description's locks after its last close (FUSE with
  // lock forwarding): the handle gives back its byte-range locks and share
  // markers, the whole lock space, before it lets the descriptor go.
  if (lock_fd >= 0) ofd_set(lock_fd, F_UNLCK, 0, 0);
  if (lock_fd >= 0 && lock_fd != fd) close(lock_fd);
  if (fd >= 0) close(fd);
  fd = lock_fd = -1;
}

BOOL FileObject::on_close() {
  std::lock_guard<std::mutex> hold(lock_state_mutex());
  closed = true;
  waiters_cancel_locked(this, nullptr);
  locks.clear();
  {
    // Gives back the OFD locks and share markers, and closes the descriptors.
    std::unique_lock<std::shared_mutex> io(io_mutex);
    close_descriptors();
  }
  waiters_grant_locked();  // requests that waited on this handle's locks
  return TRUE;
}

std::shared_ptr<FileObject> file_of(HANDLE handle) {
  std::shared_ptr<FileObject> f = handle_get_as<FileObject>(handle, Kind::kFile);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

bool event_of(const OVERLAPPED* ov, std::shared_ptr<Object>* event) {
  event->reset();
  HANDLE h = event_handle_of(ov);
  if (!h) return true;
  std::shared_ptr<Object> object = handle_get(h);
  if (!object || object->kind != Kind::kEvent) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  *event = std::move(object);
  return true;
}

}  // namespace zarn_posix

namespace {

using namespace zarn_posix;

constexpr DWORD kGenericAll = 0x10000000u;

unsigned rights_of(DWORD access) {
  if (access & kGenericAll) return kAllRights;
  unsigned rights = 0;
  if (access & GENERIC_READ) rights |= kRightRead;
  if (access & GENERIC_WRITE) rights |= kRightWrite;
  if (access & DELETE) rights |= kRightDelete;
  return rights;
}

// Opens `name` as the disposition says; *created tells whether this call
// made the file.  -1 with errno on failure.  O_CREAT always comes with
// O_EXCL, which never follows a link at the name.
int open_disposition(const char* name, int access_flags, DWORD disposition, bool* created) {
  *created = false;
  if (disposition == CREATE_NEW) {
    int fd = open_name(name, access_flags | O_CREAT | O_EXCL);
    *created = fd >= 0;
    return fd;
  }
  if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
    return open_name(name, access_flags);
  }
  // OPEN_ALWAYS, CREATE_ALWAYS: tell an existing file from one made here,
  // also when another process creates or deletes it meanwhile.
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = open_name(name, access_flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open_name(name, access_flags | O_CREAT | O_EXCL);
    if (fd >= 0) {
      *created = true;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EBUSY;  // the name keeps appearing and vanishing
  return -1;
}

// A read-write descriptor of the same file, for the locks and markers: the
// descriptor's own file through /proc, else the name again, which must then
// still name that file.
int reopen_read_write(int fd, const char* name, int no_follow, const struct stat& opened) {
  char self[40];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  int lock_fd = open_name(self, O_RDWR);
  if (lock_fd < 0 && errno == ENOENT) lock_fd = open_name(name, O_RDWR | no_follow);  // no /proc
  struct stat st;
  if (lock_fd >= 0 &&
      (!plain_file(lock_fd, true, &st) || st.st_dev != opened.st_dev || st.st_ino != opened.st_ino)) {
    close(lock_fd);
    return -1;
  }
  return lock_fd;
}

DWORD fail_open(FileObject* f, DWORD error) {
  f->close_descriptors();
  return error;
}

// Everything of CreateFileA after the argument checks; 0 or the error.  With
// `no_follow`, nothing but a regular file is opened: a symbolic link at the
// name is never gone through, a FIFO, socket or device is let go unused.
// Nothing is truncated or marked before that look.
DWORD open_file(FileObject* f, const char* name, unsigned share, DWORD disposition, bool no_follow,
                bool* existed) {
  int access_flags = (f->rights & kRightRead) && (f->rights & kRightWrite) ? O_RDWR
                     : (f->rights & kRightWrite)                           ? O_WRONLY
                                                                           : O_RDONLY;
  if (no_follow) access_flags |= O_NOFOLLOW;
  bool created;
  f->fd = open_disposition(name, access_flags, disposition, &created);
  if (f->fd < 0) return no_follow ? open_name_error(name, errno) : win_path_error_of(name, errno);
  *existed = !created;

  // A character device (/dev/null, as NUL on Windows) opens as it is where
  // links are followed: no share modes, nothing to truncate.  Anything else
  // but a file (a folder, a pipe) is refused.
  struct stat st;
  if (!plain_file(f->fd, !no_follow, &st)) {
    return fail_open(f, errno == EINVAL ? ERROR_ACCESS_DENIED : win_error_of(errno));
  }
  if (S_ISCHR(st.st_mode)) return 0;
  bool truncate = disposition == TRUNCATE_EXISTING || (disposition == CREATE_ALWAYS && !created);
  // No write bit for anyone is the read-only attribute: refused even to root.
  if (!created && !(st.st_mode & 0222) && ((f->rights & kRightWrite) || truncate)) {
    return fail_open(f, ERROR_ACCESS_DENIED);
  }

  if ((access_flags & O_ACCMODE) == O_RDWR) {
    f->lock_fd = f->fd;
  } else {
    f->lock_fd = reopen_read_write(f->fd, name, access_flags & O_NOFOLLOW, st);
  }
  if (f->lock_fd >= 0) {
    f->lock_fd_readable = f->lock_fd_writable = true;
  } else {
    // Without permission to both read and write the file, the handle's own
    // descriptor carries what its access allows.
    f->lock_fd = f->fd;
    f->lock_fd_readable = (access_flags & O_ACCMODE) != O_WRONLY;
    f->lock_fd_writable = (access_flags & O_ACCMODE) != O_RDONLY;
  }

  DWORD error = share_open(f->lock_fd, f->lock_fd_readable, f->lock_fd_writable, f->rights, share);
  if (error) return fail_open(f, error);

  if (truncate) {
    int write_fd = (access_flags & O_ACCMODE) != O_RDONLY ? f->fd : f->lock_fd_writable ? f->lock_fd : -1;
    if (write_fd < 0) return fail_open(f, ERROR_ACCESS_DENIED);
    if (ftruncate(write_fd, 0) != 0) return fail_open(f, win_error_of(errno));
  }
  return 0;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags_and_attributes, HANDLE) {
  checkpoint();
  DWORD error = check_name(name);
  if (!error && (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING || (share & ~kAllRights))) {
    error = ERROR_INVALID_PARAMETER;
  }
  if (error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  auto f = std::make_shared<FileObject>();
  f->rights = rights_of(access);
  f->overlapped = (flags_and_attributes & FILE_FLAG_OVERLAPPED) != 0;
  // The link itself, never what it leads to: see open_file.
  const bool no_follow = (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
  bool existed = false;
  error = retry_while_stale(
      [&] { return open_file(f.get(), name, share, disposition, no_follow, &existed); });
  if (error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = handle_insert(std::move(f));
  bool always = disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
  SetLastError(always && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}
