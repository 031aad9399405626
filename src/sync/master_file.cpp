// Single-byte locks on the master file, the time limit and the guard byte.
#include "sync/master_file.h"

namespace {

OVERLAPPED record_at(int32_t offset) {
  OVERLAPPED record = {};
  record.Offset = static_cast<DWORD>(offset);
  return record;
}

}  // namespace

BOOL lock_master_byte(HANDLE master, int32_t offset, int exclusive) {
  OVERLAPPED record = record_at(offset);
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return LockFileEx(master, flags, 0, 1, 0, &record);
}

BOOL unlock_master_byte(HANDLE master, int32_t offset) {
  OVERLAPPED record = record_at(offset);
  return UnlockFileEx(master, 0, 1, 0, &record);
}

Probe probe_master_byte(HANDLE master, int32_t offset) {
  if (lock_master_byte(master, offset, 1)) return Probe::kGranted;
  return GetLastError() == ERROR_LOCK_VIOLATION ? Probe::kHeld : Probe::kFailed;
}

time_t sync_clock() { return time(nullptr); }

bool time_limit_exceeded(time_t start, int32_t timeout_sec) {
  return timeout_sec != 0 && sync_clock() - start > timeout_sec;
}

void set_error(ErrorInfo* error, int32_t code, DWORD system_error) {
  error->code = code;
  error->system_error = static_cast<int32_t>(system_error);
}

int take_guard(SyncState* state, time_t start, ErrorInfo* error) {
  for (;;) {
    if (lock_master_byte(state->master_file, kGuardByte, 1)) {
      state->holds_guard = 1;
      return 0;
    }
    const DWORD failure = GetLastError();
    if (failure != ERROR_LOCK_VIOLATION) {
      set_error(error, kErrExclusiveNoWait, failure);
      return -1;
    }
    if (time_limit_exceeded(start, state->timeout_sec)) {
      set_error(error, kErrTimedOut, 0);
      return -1;
    }
    Sleep(100);
  }
}

BOOL release_guard(SyncState* state, ErrorInfo* error) {
  state->holds_guard = 0;
  if (unlock_master_byte(state->master_file, kGuardByte)) return TRUE;
  set_error(error, kErrUnlockFailed, GetLastError());
  return FALSE;
}
