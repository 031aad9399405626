// One synchronisation point after the first: release the previous marker and
// meet at the other marker pair.
#include "sync/master_file.h"

namespace {

// The second arrival of the previous rendezvous waits until the first
// arrival has left it (released the lower marker), so that it cannot run a
// whole rendezvous ahead.  The one wait made without the guard.
int wait_for_lower_marker(SyncState* state, time_t start) {
  ErrorInfo error = {0, 0};
  const int32_t lower = state->step - 1;
  report_line(message_text(kMsgCheckingPartnerState));
  while (!lock_master_byte(state->master_file, lower, 1)) {
    const DWORD failure = GetLastError();
    if (failure != ERROR_LOCK_VIOLATION) {
      set_error(&error, kErrExclusiveNoWait, failure);
      report_error(&error);
      return -1;
    }
    if (time_limit_exceeded(start, state->timeout_sec)) {
      set_error(&error, kErrTimedOut, 0);
      report_error(&error);
      return -1;
    }
    Sleep(100);
  }
  if (!unlock_master_byte(state->master_file, lower)) {
    set_error(&error, kErrUnlockFailed, GetLastError());
    report_error(&error);
    return -1;
  }
  return 0;
}

}  // namespace

int sync_step(SyncState* state) {
  const time_t start = sync_clock();
  const int32_t step = state->step;
  if (step == 5 || step == 7) {
    if (wait_for_lower_marker(state, start) != 0) return -1;
  }
  if (step >= 4 && step <= 7) {
    report_line(message_text(kMsgReleasingPreviousMarker));
    if (!unlock_master_byte(state->master_file, step)) {
      ErrorInfo error = {0, 0};
      set_error(&error, kErrUnlockFailed, GetLastError());
      report_error(&error);
      return -1;
    }
  }
  // Bytes 1 and 2, the markers of the first rendezvous, stay held: they are
  // the presence bytes.
  state->step = (step == 4 || step == 5) ? 6 : 4;
  return sync_rendezvous(state);
}
