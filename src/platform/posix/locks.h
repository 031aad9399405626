// POSIX layer, internal: handle-owned byte-range locks with the Windows rules.
//
// Each file object keeps the locks its handle holds (locks in
// file_object.h); the kernel sees them as OFD locks on the handle's lock_fd,
// a write lock where the handle holds an exclusive lock, a read lock where
// it holds only shared ones.  The rules the kernel does not give are kept
// here: an exclusive lock conflicts with the same handle's locks too, shared
// locks stack (and count), and an unlock must name a range held.
#ifndef ZARN_PLATFORM_POSIX_LOCKS_H
#define ZARN_PLATFORM_POSIX_LOCKS_H

#include <stdint.h>

#include <mutex>

#include "platform/posix/file_object.h"

namespace zarn_posix {

// Guards every file object's lock table and `closed` flag, and the queue of
// waiting requests (lock_waiters.h).
std::mutex& lock_state_mutex();

enum class Grant { kGranted, kConflict, kFailed };

// Takes [offset, offset + length) for `file` if no lock of this or any other
// handle is in the way.  kFailed carries a Windows error in *error.
// lock_state_mutex held; the file not closed.
Grant lock_take_locked(FileObject& file, uint64_t offset, uint64_t length, bool exclusive,
                       DWORD* error);

}  // namespace zarn_posix

#endif
