// POSIX layer: LockFileEx and UnlockFileEx, handle-owned locks kept as OFD locks.
#include "platform/posix/locks.h"

#include <errno.h>

#include <algorithm>
#include <vector>

#include "platform/posix/file_errors.h"
#include "platform/posix/lock_waiters.h"
#include "platform/posix/ofd.h"
#include "platform/posix/threads.h"

namespace zarn_posix {

std::mutex& lock_state_mutex() {
  static auto* m = new std::mutex();  // never destroyed: the poller may outlive main
  return *m;
}

namespace {

bool covers(const HeldLock& l, uint64_t at) { return at >= l.offset && at - l.offset < l.length; }

bool overlaps(const HeldLock& l, uint64_t offset, uint64_t length) {
  return l.length && length && l.offset < offset + length && offset < l.offset + l.length;
}

// What the kernel must hold for this handle at `at`.
short wanted_type(const std::vector<HeldLock>& locks, uint64_t at) {
  short type = F_UNLCK;
  for (const HeldLock& l : locks) {
    if (!covers(l, at)) continue;
    if (l.exclusive) return F_WRLCK;
    type = F_RDLCK;
  }
  return type;
}

// Brings the handle's OFD locks over [start, end) in line with its table,
// one call per run of equal type.  0, or -1 with errno; *applied counts the
// calls that took effect before a failure.
int sync_range(FileObject& file, uint64_t start, uint64_t end, int* applied) {
  *applied = 0;
  end = std::min(end, kReservedStart);
  if (start >= end) return 0;
  std::vector<uint64_t> cuts = {start, end};
  for (const HeldLock& l : file.locks) {
    if (l.offset > start && l.offset < end) cuts.push_back(l.offset);
    uint64_t l_end = l.offset + l.length;
    if (l_end > start && l_end < end) cuts.push_back(l_end);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  size_t i = 0;
  while (i + 1 < cuts.size()) {
    short type = wanted_type(file.locks, cuts[i]);
    size_t j = i + 1;
    while (j + 1 < cuts.size() && wanted_type(file.locks, cuts[j]) == type) ++j;
    if (ofd_set(file.lock_fd, type, cuts[i], cuts[j] - cuts[i]) != 0) return -1;
    ++*applied;
    i = j;
  }
  return 0;
}

// The range of a request, or ERROR_INVALID_PARAMETER: it must end below 2^64
// and start below the range that carries share modes.
DWORD range_of(const OVERLAPPED* ov, DWORD length_low, DWORD length_high, uint64_t* offset,
               uint64_t* length) {
  *offset = (uint64_t(ov->OffsetHigh) << 32) | ov->Offset;
  *length = (uint64_t(length_high) << 32) | length_low;
  if (*length && (*length > UINT64_MAX - *offset || *offset >= kReservedStart)) {
    return ERROR_INVALID_PARAMETER;
  }
  return 0;
}

// A thread whose synchronous LockFileEx waits: it sleeps in a safe point of
// suspension until its request leaves the queue.
BOOL wait_synchronous(std::unique_lock<std::mutex>& hold, OVERLAPPED* ov) {
  hold.unlock();
  {
    SafePoint safe_point;
    hold.lock();
    while (ov->Internal == STATUS_PENDING && waiter_queued_locked(ov)) waiters_done_cv().wait(hold);
    hold.unlock();
  }
  hold.lock();
  DWORD error = win_error_of_status(ov->Internal);
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

Grant lock_take_locked(FileObject& file, uint64_t offset, uint64_t length, bool exclusive,
                       DWORD* error) {
  if (exclusive) {
    for (const HeldLock& l : file.locks) {
      if (overlaps(l, offset, length)) return Grant::kConflict;  // the handle's own lock
    }
  }
  file.locks.push_back(HeldLock{offset, length, exclusive});
  if (!length) return Grant::kGranted;  // a zero-length lock conflicts with nothing
  int applied;
  if (sync_range(file, offset, offset + length, &applied) == 0) return Grant::kGranted;
  int err = errno;
  file.locks.pop_back();
  if (applied) {
    int ignored;
    sync_range(file, offset, offset + length, &ignored);  // only unlocks and downgrades: cannot fail
  }
  if (ofd_conflict_errno(err)) return Grant::kConflict;
  *error = err == EBADF ? ERROR_ACCESS_DENIED : win_error_of(err);
  return Grant::kFailed;
}

}  // namespace zarn_posix

using namespace zarn_posix;

namespace {

// What LockFileEx and UnlockFileEx check first: the handle and the range.
// nullptr with the last error set when either is not usable.
std::shared_ptr<FileObject> lock_request_of(HANDLE file, DWORD reserved, const OVERLAPPED* ov,
                                            DWORD length_low, DWORD length_high,
                                            uint64_t* offset, uint64_t* length) {
  std::shared_ptr<FileObject> f = file_of(file);
  if (!f) return nullptr;
  DWORD error = !ov || reserved ? ERROR_INVALID_PARAMETER
                                : range_of(ov, length_low, length_high, offset, length);
  if (error) {
    SetLastError(error);
    return nullptr;
  }
  return f;
}

}  // namespace

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD length_low, DWORD length_high,
                LPOVERLAPPED ov) {
  checkpoint();
  uint64_t offset, length;
  std::shared_ptr<FileObject> f =
      lock_request_of(file, reserved, ov, length_low, length_high, &offset, &length);
  if (!f) return FALSE;
  std::shared_ptr<Object> event;
  if (!event_of(ov, &event)) return FALSE;
  if (event) ResetEvent(event_handle_of(ov));  // as the kernel does when a request starts
  bool exclusive = (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0;

  DWORD error = 0;
  std::unique_lock<std::mutex> hold(lock_state_mutex());
  if (f->closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  switch (lock_take_locked(*f, offset, length, exclusive, &error)) {
    case Grant::kGranted:
      ov->Internal = 0;
      ov->InternalHigh = 0;
      if (event) event_signal(event.get());
      return TRUE;
    case Grant::kFailed:
      SetLastError(error);
      return FALSE;
    case Grant::kConflict:
      break;
  }
  if (flags & LOCKFILE_FAIL_IMMEDIATELY) {
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
  }
  ov->Internal = STATUS_PENDING;
  ov->InternalHigh = 0;
  if (!waiter_add_locked(f, ov, event, offset, length, exclusive)) {
    ov->Internal = kStatusUnsuccessful;
    return FALSE;
  }
  if (!f->overlapped) return wait_synchronous(hold, ov);
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD length_low, DWORD length_high,
                  LPOVERLAPPED ov) {
  checkpoint();
  uint64_t offset, length;
  std::shared_ptr<FileObject> f =
      lock_request_of(file, reserved, ov, length_low, length_high, &offset, &length);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> hold(lock_state_mutex());
  if (f->closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The range must be one the handle holds, exactly; an exclusive lock goes
  // before a shared one stacked on the same range.
  auto& locks = f->locks;
  auto match = locks.end();
  for (auto it = locks.begin(); it != locks.end(); ++it) {
    if (it->offset != offset || it->length != length) continue;
    if (match == locks.end() || (it->exclusive && !match->exclusive)) match = it;
  }
  if (match == locks.end()) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  locks.erase(match);
  int applied;
  BOOL ok = TRUE;
  if (length && sync_range(*f, offset, offset + length, &applied) != 0) {
    SetLastError(win_error_of(errno));
    ok = FALSE;
  }
  waiters_grant_locked();
  return ok;
}
