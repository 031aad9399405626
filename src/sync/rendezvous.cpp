// One rendezvous of the two parties.
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

// The first arrival waits for the second arrival's marker, watching the
// partner's presence byte from the second rendezvous on.
int wait_for_second_arrival(SyncState* state, time_t start, ErrorInfo* error) {
  report_line(message_text(kMsgWaitingForPartnerMarker));
  for (;;) {
    if (state->holds_guard && !release_guard(state, error)) return -1;
    if (time_limit_exceeded(start, state->timeout_sec)) {
      set_error(error, kErrTimedOut, 0);
      return -1;
    }
    Sleep(100);
    if (take_guard(state, start, error) != 0) return -1;

    switch (probe_master_byte(state->master_file, state->step + 1)) {
      case Probe::kHeld:
        settle_roles(state, 0);
        return 0;
      case Probe::kFailed:
        set_error(error, kErrExclusiveNoWait, GetLastError());
        return -1;
      case Probe::kGranted:
        if (!unlock_master_byte(state->master_file, state->step + 1)) {
          set_error(error, kErrUnlockFailed, GetLastError());
          return -1;
        }
        break;
    }
    if (state->own_presence_byte == 0) continue;  // nobody to watch yet

    switch (probe_master_byte(state->master_file, state->partner_presence_byte)) {
      case Probe::kHeld:
        break;
      case Probe::kFailed:
        set_error(error, kErrExclusiveNoWait, GetLastError());
        return -1;
      case Probe::kGranted:
        unlock_master_byte(state->master_file, state->partner_presence_byte);
        set_error(error, kErrPartnerEnded, 0);
        return -1;
    }
  }
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
