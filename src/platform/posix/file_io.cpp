// POSIX layer: ReadFile, WriteFile, SetFilePointer, FlushFileBuffers.
//
// With an OVERLAPPED record the transfer is positional (Offset, OffsetHigh)
// and completes before the call returns: TRUE, Internal 0, InternalHigh the
// byte count, the event set.  Without one it uses the handle's position.
#include <errno.h>
#include <unistd.h>

#include <mutex>
#include <shared_mutex>

#include "platform/posix/file_errors.h"
#include "platform/posix/file_object.h"
#include "platform/posix/lock_waiters.h"

using namespace zarn_posix;

namespace {

constexpr DWORD kErrorNegativeSeek = 131;

enum class Direction { kRead, kWrite };

// Transfers up to `size` bytes, at `offset` when it is not negative; stops
// early only at end of file.  The count, or -1 with errno.
ssize_t transfer(Direction dir, int fd, void* buffer, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    char* at = static_cast<char*>(buffer) + done;
    ssize_t n;
    if (dir == Direction::kRead) {
      n = offset >= 0 ? pread(fd, at, size - done, offset + static_cast<off_t>(done))
                      : read(fd, at, size - done);
    } else {
      n = offset >= 0 ? pwrite(fd, at, size - done, offset + static_cast<off_t>(done))
                      : write(fd, at, size - done);
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL read_or_write(Direction dir, HANDLE file, void* buffer, DWORD size, LPDWORD count,
                   LPOVERLAPPED ov) {
  if (count) *count = 0;
  std::shared_ptr<FileObject> f = file_of(file);
  if (!f) return FALSE;
  if (f->overlapped && !ov) return fail(ERROR_INVALID_PARAMETER);
  if (!(f->rights & (dir == Direction::kRead ? kRightRead : kRightWrite))) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (size && !buffer) return fail(ERROR_NOACCESS);
  std::shared_ptr<Object> event;
  if (ov && !event_of(ov, &event)) return FALSE;
  if (event) ResetEvent(event_handle_of(ov));  // as the kernel does when a request starts

  uint64_t offset = ov ? (uint64_t(ov->OffsetHigh) << 32) | ov->Offset : 0;
  if (offset > uint64_t(INT64_MAX)) return fail(ERROR_INVALID_PARAMETER);
  std::shared_lock<std::shared_mutex> io(f->io_mutex);
  if (f->fd < 0) return fail(ERROR_INVALID_HANDLE);
  ssize_t n = transfer(dir, f->fd, buffer, size, ov ? static_cast<off_t>(offset) : -1);
  if (n < 0) return fail(win_error_of(errno));
  if (ov) {
    // At end of file a positional read fails; the record stays as it was.
    if (dir == Direction::kRead && n == 0 && size) return fail(ERROR_HANDLE_EOF);
    // A synchronous handle moves its position past the transfer.
    if (!f->overlapped) lseek(f->fd, static_cast<off_t>(offset) + n, SEEK_SET);
    ov->Internal = 0;
    ov->InternalHigh = static_cast<ULONG_PTR>(n);
    if (event) event_signal(event.get());
  }
  if (count) *count = static_cast<DWORD>(n);
  return TRUE;
}

}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED ov) {
  checkpoint();
  return read_or_write(Direction::kRead, file, buffer, to_read, read, ov);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD to_write, LPDWORD written, LPOVERLAPPED ov) {
  checkpoint();
  return read_or_write(Direction::kWrite, file, const_cast<void*>(buffer), to_write, written, ov);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
  checkpoint();
  std::shared_ptr<FileObject> f = file_of(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR
             : method == FILE_END   ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distance_high ? int64_t((uint64_t(uint32_t(*distance_high)) << 32) | uint32_t(distance))
                               : int64_t(distance);
  std::shared_lock<std::shared_mutex> io(f->io_mutex);
  if (f->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  off_t position = lseek(f->fd, static_cast<off_t>(move), whence);
  if (position < 0) {
    SetLastError(errno == EINVAL ? kErrorNegativeSeek : win_error_of(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high) *distance_high = static_cast<LONG>(uint64_t(position) >> 32);
  DWORD low = static_cast<DWORD>(position);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);  // tells success from failure
  return low;
}

BOOL FlushFileBuffers(HANDLE file) {
  checkpoint();
  std::shared_ptr<FileObject> f = file_of(file);
  if (!f) return FALSE;
  if (!(f->rights & kRightWrite)) return fail(ERROR_ACCESS_DENIED);
  std::shared_lock<std::shared_mutex> io(f->io_mutex);
  if (f->fd < 0) return fail(ERROR_INVALID_HANDLE);
  if (fsync(f->fd) != 0) return fail(win_error_of(errno));
  return TRUE;
}
