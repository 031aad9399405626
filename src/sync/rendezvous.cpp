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
//   8 + 8 x role + script   the script mark of a role (scripts 1 to 7),
//                           exclusive, taken with the presence byte
//
// The first rendezvous uses bytes 1 and 2 as its markers; they are never
// released by sync_step and become the presence bytes.  This is a protocol
// between hosts: any change breaks pairing with other installations.  The
// script marks are beyond it: a party of an older build marks nothing and
// looks at no mark, and a party that finds no mark pairs as before.
//
// The folder serves one pairing at a time, and the parties pair again for
// every script of a run, with the master file deleted in between.  A late
// process, in the first script of its run, must not take the place of a
// member of a running pair.  Under the guard the first rendezvous tells:
// - a second marker (byte 2) already held when this party takes the first
//   (byte 1): its holder's partner has left, so that pair is in its closing
//   handshake, and this party is late;
// - a first marker held by a party that is not inside a rendezvous (nobody
//   else holds byte 3): it waits for no partner, so this party is late;
// - a partner's script mark of another script: the party in the earlier
//   script is the late one and gives way; the one in the later script holds
//   on until the late one has gone, then meets its own partner;
// - both markers held, marked with two scripts: such a pair is undoing
//   itself, and this party tries again instead of being turned away.
// A party that gives way releases its markers before the guard (a closing
// partner must not take them for its own partner's) and deletes nothing.
#include "sync/master_file.h"

namespace {

// The failure exit: the marker byte stays held for the tear-down, unless
// this party gives way to another pairing.
int rendezvous_failed(SyncState* state, const ErrorInfo* error) {
  report_error(error);
  if (state->gave_way) unlock_master_byte(state->master_file, state->step);
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
  state->own_presence_byte = presence_byte(role);
  state->partner_presence_byte = presence_byte(role ^ 1);
}

// This party leaves the first rendezvous to another pairing: -1.
int give_way(SyncState* state, int32_t role, ErrorInfo* error) {
  unmark_script(state, role);
  state->gave_way = 1;
  set_error(error, kErrThirdProcess, 0);
  return -1;
}

// First rendezvous, first arrival: the second marker is held.  1 paired, -1
// (this party gives way, or a failure), 0 not its partner: wait on.  `alone`:
// this is the look in the guard hold that took the first marker, and nobody
// else was inside a rendezvous then.
int check_second_arrival(SyncState* state, bool alone, ErrorInfo* error) {
  if (alone) return give_way(state, 0, error);  // its holder's pair is closing
  const int32_t theirs = script_of(state, 1, error);
  if (theirs < 0) return -1;
  if (scripts_differ(state->script, theirs)) {
    return state->script < theirs ? give_way(state, 0, error) : 0;
  }
  settle_roles(state, 0);
  return 1;
}

// One look under the guard: 1 once the second arrival's marker is held, -1
// on a failure or when the partner has ended (watched from the second
// rendezvous on), 0 not yet.
int look_for_second_arrival(SyncState* state, bool alone, ErrorInfo* error) {
  const int taken = take_master_byte(state->master_file, state->step + 1, error);
  if (taken == 0) {
    if (state->own_presence_byte == 0) return check_second_arrival(state, alone, error);
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
int wait_for_second_arrival(SyncState* state, int inside, time_t start, ErrorInfo* error) {
  report_line(message_text(kMsgWaitingForPartnerMarker));
  bool first_look = true;
  return poll_until(state, start, error, [&] {
    // The guard is held on the first look, from the rendezvous' start.
    if (!first_look && take_guard(state, start, error) != 0) return -1;
    const int arrived = look_for_second_arrival(state, first_look && !inside, error);
    first_look = false;
    if (arrived != 0) return arrived;
    return release_guard(state, error) ? 0 : -1;
  });
}

// Whether a party other than this one is inside a rendezvous (holds byte 3),
// looked at under the guard before this party takes it: 1 yes, 0 no, -1
// with *error set.
int others_inside(SyncState* state, ErrorInfo* error) {
  const int taken = take_master_byte(state->master_file, kInRendezvousByte, error);
  if (taken > 0) unlock_master_byte(state->master_file, kInRendezvousByte);
  return taken < 0 ? -1 : taken == 0;
}

// First rendezvous, second arrival whose try of the second marker was
// refused (`failure`): the pairing in the folder is not this party's to
// join.  1 when it is a pair of two scripts undoing itself (try again), else
// -1 with the reason: another process for a party in a later script of its
// run (it has paired before), {15, 33} for one in its first.
int second_marker_refused(SyncState* state, DWORD failure, ErrorInfo* error) {
  if (failure == ERROR_LOCK_VIOLATION && state->script > 0) {
    const int32_t first = script_of(state, 0, error);
    const int32_t second = first < 0 ? -1 : script_of(state, 1, error);
    if (second < 0) return -1;
    if (scripts_differ(first, second)) return 1;
    if (state->script > 1) {
      state->gave_way = 1;  // the markers are not this party's: nothing to release
      set_error(error, kErrThirdProcess, 0);
      return -1;
    }
  }
  set_error(error, kErrExclusiveNoWait, failure);
  return -1;
}

// First rendezvous, second arrival holding the second marker, its partner's
// inside flag `inside` looked at before.  0 paired, 1 try again (after the
// late party has gone), -1 (this party gives way, or a failure).
int check_first_arrival(SyncState* state, int inside, time_t start, ErrorInfo* error) {
  if (!inside) return give_way(state, 1, error);
  mark_script(state, 1);
  const int32_t theirs = script_of(state, 0, error);
  if (theirs < 0) return -1;
  if (!scripts_differ(state->script, theirs)) return 0;
  if (state->script < theirs) return give_way(state, 1, error);
  // Held until the late first arrival has seen it and gone; a first arrival
  // of this party's script that comes meanwhile pairs with it.
  int32_t first = theirs;
  const int gone = poll_until(state, start, error, [&] {
    if (!state->holds_guard && take_guard(state, start, error) != 0) return -1;
    const int free = take_master_byte(state->master_file, kPresenceByteRole0, error);
    if (free != 0) return free;  // 1: gone, the byte taken
    first = script_of(state, 0, error);
    if (first < 0) return -1;
    if (!scripts_differ(state->script, first)) return 1;  // its partner came
    return release_guard(state, error) ? 0 : -1;
  });
  if (gone != 0) return -1;
  if (!scripts_differ(state->script, first)) return 0;
  unlock_master_byte(state->master_file, kPresenceByteRole0);
  unmark_script(state, 1);
  unlock_master_byte(state->master_file, state->step);
  state->step = 1;
  return 1;
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

// Takes byte 3 shared and this party's marker, and meets the other party
// there: 0 met (holding the guard or not), 1 try the first rendezvous again
// (holding the guard and byte 3, no marker), -1 failed (*error set).  `inside`:
// whether another party was inside a rendezvous as this one came (first
// rendezvous only).
int meet(SyncState* state, int inside, time_t start, ErrorInfo* error) {
  const bool first = state->own_presence_byte == 0;
  if (lock_master_byte(state->master_file, state->step, LockKind::kExclusive)) {
    if (first) mark_script(state, 0);
    return wait_for_second_arrival(state, inside, start, error);
  }
  // The partner holds the lower marker: this party arrived second.
  const DWORD failure = GetLastError();
  report_line(message_text(kMsgPartnerMarkerSet));
  if (failure != ERROR_LOCK_VIOLATION) {
    set_error(error, kErrExclusiveNoWait, failure);
    return -1;
  }
  state->step += 1;
  report_line(message_text(kMsgResettingMarker));
  if (!lock_master_byte(state->master_file, state->step, LockKind::kExclusive)) {
    // A third party finds both presence bytes taken here.
    const DWORD refused = GetLastError();
    if (!first) {
      set_error(error, kErrExclusiveNoWait, refused);
      return -1;
    }
    const int again = second_marker_refused(state, refused, error);
    if (again > 0) state->step = 1;
    return again;
  }
  if (first) {
    const int checked = check_first_arrival(state, inside, start, error);
    if (checked != 0) return checked;
    settle_roles(state, 1);
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
  PollSchedule schedule;
  for (bool again = false;; again = true) {
    const int inside = state->own_presence_byte == 0 ? others_inside(state, &error) : 1;
    if (inside < 0) return rendezvous_failed(state, &error);
    if (!lock_master_byte(state->master_file, kInRendezvousByte, LockKind::kShared)) {
      set_error(&error, kErrSharedNoWait, GetLastError());
      return rendezvous_failed(state, &error);
    }
    if (!again) report_line(message_text(kMsgSettingMarker));
    const int met = meet(state, inside, start, &error);
    if (met == 0) break;
    if (met < 0) return rendezvous_failed(state, &error);
    // Out of the rendezvous for a pause, then in again, as a newcomer.
    unlock_master_byte(state->master_file, kInRendezvousByte);
    if (!release_guard(state, &error)) return rendezvous_failed(state, &error);
    if (time_limit_exceeded(start, state->timeout_sec)) {
      set_error(&error, kErrTimedOut, 0);
      return rendezvous_failed(state, &error);
    }
    schedule.pause();
    if (take_guard(state, start, &error) != 0) return rendezvous_failed(state, &error);
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
