// Single-byte locks on the master file, the time limit and the guard byte.
#include "sync/master_file.h"

#include "fileops/fileops.h"

HANDLE open_sync_file(const char* name) {
  // Not overlapped: every lock on the master file answers at once.  No delete
  // sharing: nobody deletes the master file while another party has it open.
  return open_plain_file(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

namespace {

OVERLAPPED record_at(int32_t offset) {
  OVERLAPPED record = {};
  record.Offset = static_cast<DWORD>(offset);
  return record;
}

}  // namespace

BOOL lock_master_byte(HANDLE master, int32_t offset, LockKind kind) {
  OVERLAPPED record = record_at(offset);
  const DWORD flags =
      LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return LockFileEx(master, flags, 0, 1, 0, &record);
}

BOOL unlock_master_byte(HANDLE master, int32_t offset) {
  OVERLAPPED record = record_at(offset);
  return UnlockFileEx(master, 0, 1, 0, &record);
}

int take_master_byte(HANDLE master, int32_t offset, ErrorInfo* error) {
  if (lock_master_byte(master, offset, LockKind::kExclusive)) return 1;
  const DWORD failure = GetLastError();
  if (failure == ERROR_LOCK_VIOLATION) return 0;
  set_error(error, kErrExclusiveNoWait, failure);
  return -1;
}

time_t sync_clock() { return time(nullptr); }

bool time_limit_exceeded(time_t start, int32_t timeout_sec) {
  return timeout_sec != 0 && sync_clock() - start > timeout_sec;
}

int take_guard(SyncState* state, time_t start, ErrorInfo* error) {
  return poll_until(state, start, error, [&] {
    const int taken = take_master_byte(state->master_file, kGuardByte, error);
    if (taken > 0) state->holds_guard = 1;
    return taken;
  });
}

BOOL release_guard(SyncState* state, ErrorInfo* error) {
  state->holds_guard = 0;
  if (unlock_master_byte(state->master_file, kGuardByte)) return TRUE;
  set_error(error, kErrUnlockFailed, GetLastError());
  return FALSE;
}
