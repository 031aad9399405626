// The rendezvous of the two parties: the first, inside the set-up, and one
// at every synchronisation point after it.
//
// The master file stays empty and only carries one-byte locks:
//
//   byte 0  guard           exclusive, briefly: every look at or change of the
//                           protocol state is made under it; nobody sleeps holding it
//   byte 1  presence, role 0  exclusive, from the first rendezvous until the holder
//   byte 2  presence, role 1  closes the master file; a free byte means that party ended
//   byte 3  in rendezvous   shared by each party inside a rendezvous; sync_finish
//                           needs it exclusively
//   4 / 5   marker pair     exclusive: 4 first arrival, 5 second arrival
//   6 / 7   marker pair     the same; later rendezvous alternate between 4/5 and 6/7
//
// The first rendezvous uses bytes 1 and 2 as its markers; they are never
// released by sync_step and become the presence bytes.  This is a protocol
// between hosts: any change breaks pairing with other installations.
#include "sync/master_file.h"

namespace {

// The failure exit: the marker byte stays held for the tear-down.
int rendezvous_failed(SyncState* state, const ErrorInfo* error) {
  report_error(error);
  unlock_master_byte(state->master_file, kInRendezvousByte);
  if (state->holds_guard) {
    state->holds_guard = 0;
    unlock_master_byte(state->master_file, kGuardByte);
  }
  return -1;
}

// First rendezvous only: bytes 1 and 2 become the presence bytes.
void settle_roles(SyncState* state, int32_t role) {
  if (state->own_presence_byte != 0) return;
  state->role = role;
  state->own_presence_byte = role == 0 ? 1 : 2;
  state->partner_presence_byte = role == 0 ? 2 : 1;
}

// One look under the guard: 1 once the second arrival's marker is held, -1
// on a failure or when the partner has ended (watched from the second
// rendezvous on), 0 not yet.
int look_for_second_arrival(SyncState* state, ErrorInfo* error) {
  const int taken = take_master_byte(state->master_file, state->step + 1, error);
  if (taken == 0) {
    settle_roles(state, 0);
    return 1;
  }
  if (taken < 0) return -1;
  if (!unlock_master_byte(state->master_file, state->step + 1)) {
    set_error(error, kErrUnlockFailed, GetLastError());
    return -1;
  }
  if (state->own_presence_byte == 0) return 0;  // nobody to watch yet

  // The partner's presence byte is held while it lives.
  const int gone = take_master_byte(state->master_file, state->partner_presence_byte, error);
  if (gone <= 0) return gone;  // 0 while it lives, -1 on a failure
  unlock_master_byte(state->master_file, state->partner_presence_byte);
  set_error(error, kErrPartnerEnded, 0);
  return -1;
}

// The first arrival waits for the second arrival's marker, and never sleeps
// holding the guard.  Returns with the guard held once the partner is there.
int wait_for_second_arrival(SyncState* state, time_t start, ErrorInfo* error) {
  report_line(message_text(kMsgWaitingForPartnerMarker));
  return poll_until(state, start, error, [&] {
    if (!state->holds_guard) {  // held on the first try, from the rendezvous' start
      if (take_guard(state, start, error) != 0) return -1;
      const int arrived = look_for_second_arrival(state, error);
      if (arrived != 0) return arrived;
    }
    return release_guard(state, error) ? 0 : -1;
  });
}

// The second arrival of the previous rendezvous waits until the first
// arrival has left it (released the lower marker), so that it cannot run a
// whole rendezvous ahead.  The one wait made without the guard.
int wait_for_lower_marker(SyncState* state, time_t start) {
  ErrorInfo error = {0, 0};
  const int32_t lower = state->step - 1;
  report_line(message_text(kMsgCheckingPartnerState));
  if (poll_until(state, start, &error,
                 [&] { return take_master_byte(state->master_file, lower, &error); }) != 0) {
    report_error(&error);
    return -1;
  }
  if (!unlock_master_byte(state->master_file, lower)) {
    set_error(&error, kErrUnlockFailed, GetLastError());
    report_error(&error);
    return -1;
  }
  return 0;
}

}  // namespace

int sync_rendezvous(SyncState* state) {
  const time_t start = sync_clock();
  ErrorInfo error = {0, 0};
  report_line(message_text(kMsgBeforeRendezvous));
  if (take_guard(state, start, &error) != 0) {
    report_error(&error);
    return -1;
  }

  report_line(message_text(kMsgEnteringRendezvous));
  if (!lock_master_byte(state->master_file, kInRendezvousByte, 0)) {
    set_error(&error, kErrSharedNoWait, GetLastError());
    return rendezvous_failed(state, &error);
  }

  report_line(message_text(kMsgSettingMarker));
  if (lock_master_byte(state->master_file, state->step, 1)) {
    if (wait_for_second_arrival(state, start, &error) != 0) {
      return rendezvous_failed(state, &error);
    }
  } else {
    // The partner holds the lower marker: this party arrived second.
    const DWORD failure = GetLastError();
    report_line(message_text(kMsgPartnerMarkerSet));
    if (failure != ERROR_LOCK_VIOLATION) {
      set_error(&error, kErrExclusiveNoWait, failure);
      return rendezvous_failed(state, &error);
    }
    state->step += 1;
    report_line(message_text(kMsgResettingMarker));
    if (!lock_master_byte(state->master_file, state->step, 1)) {
      // A third party finds both presence bytes taken here.
      set_error(&error, kErrExclusiveNoWait, GetLastError());
      return rendezvous_failed(state, &error);
    }
    settle_roles(state, 1);
  }

  report_line(message_text(kMsgLeavingRendezvous));
  if (!unlock_master_byte(state->master_file, kInRendezvousByte)) {
    set_error(&error, kErrUnlockFailed, GetLastError());
    return rendezvous_failed(state, &error);
  }
  report_line(message_text(kMsgAfterRendezvous));
  if (state->holds_guard && !release_guard(state, &error)) {
    report_error(&error);
    return -1;
  }
  report_line(message_text(kMsgSynchronized));
  return 0;
}

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
