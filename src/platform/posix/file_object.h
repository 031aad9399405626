// POSIX layer, internal: the file object behind a file HANDLE.
//
// A handle owns one or two descriptors.  `fd` has the caller's access and
// serves reads, writes and the file position.  `lock_fd` carries everything
// the handle holds in the lock space: its byte-range locks and its share
// markers (share_modes.h).  OFD locks belong to the open file description,
// so each handle's locks conflict with every other handle's, in this process
// or any other, exactly as Windows handle-owned locks do.  An OFD read lock
// needs a descriptor open for reading and a write lock one open for writing,
// so `lock_fd` is a read-write reopening of the file unless `fd` is already
// read-write.
#ifndef ZARN_PLATFORM_POSIX_FILE_OBJECT_H
#define ZARN_PLATFORM_POSIX_FILE_OBJECT_H

#include <stdint.h>

#include <memory>
#include <shared_mutex>
#include <vector>

#include "platform/posix/handles.h"

namespace zarn_posix {

// Access rights held and share rights granted, as one bit each.
enum : unsigned { kRightRead = 1, kRightWrite = 2, kRightDelete = 4, kAllRights = 7 };

// Byte-range locks live below this offset; the share markers above it.
constexpr uint64_t kReservedStart = uint64_t(1) << 62;

struct HeldLock {
  uint64_t offset;
  uint64_t length;
  bool exclusive;
};

struct FileObject : Object {
  FileObject() : Object(Kind::kFile) {}
  ~FileObject() override;
  // Cancels the handle's waiting requests, drops its locks and markers.
  BOOL on_close() override;

  // Fixed once the handle is published.
  unsigned rights = 0;  // kRight* bits of the access asked for
  bool overlapped = false;
  bool lock_fd_readable = false;  // shared locks and markers possible
  bool lock_fd_writable = false;  // exclusive locks and the share guard possible

  // Open until on_close.  Reads, writes and seeks hold io_mutex shared while
  // they use `fd`; on_close holds it exclusively to close the descriptors.
  std::shared_mutex io_mutex;
  int fd = -1;
  int lock_fd = -1;  // may equal fd

  // Guarded by lock_state_mutex() (locks.h).
  std::vector<HeldLock> locks;
  bool closed = false;

  // Gives back everything lock_fd holds in the lock space, then closes both
  // descriptors (once); io_mutex held exclusively, or unshared.
  void close_descriptors();
};

// The file object of `handle`, or nullptr with ERROR_INVALID_HANDLE set.
std::shared_ptr<FileObject> file_of(HANDLE handle);

// The event handle of a record: hEvent without its low bit, which only keeps
// a completion off a completion port.
inline HANDLE event_handle_of(const OVERLAPPED* ov) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(ov->hEvent) & ~uintptr_t(1));
}

// The event object an OVERLAPPED record names.  True with `*event` empty
// when the record names none; false with ERROR_INVALID_HANDLE set when
// hEvent is not an event handle.
bool event_of(const OVERLAPPED* ov, std::shared_ptr<Object>* event);

}  // namespace zarn_posix

#endif
