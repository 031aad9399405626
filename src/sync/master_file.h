// The few moves every step of the handshake is made of: one-byte locks on
// the master file (byte meanings in rendezvous.cpp), the time limit, the
// poll and the guard byte.  Internal to the synchronisation.
//
// Every request carries LOCKFILE_FAIL_IMMEDIATELY and answers at once; a
// byte the other party holds shows as ERROR_LOCK_VIOLATION.
#ifndef ZARN_SYNC_MASTER_FILE_H
#define ZARN_SYNC_MASTER_FILE_H

#include <stdint.h>
#include <time.h>

#include "base/poll_schedule.h"
#include "fileops/fileops.h"
#include "report/report.h"
#include "sync/sync.h"

enum : int32_t {
  kGuardByte = 0,
  kPresenceByteRole0 = 1,    // the first rendezvous' markers, kept as presence bytes
  kPresenceByteRole1 = 2,
  kInRendezvousByte = 3,
  kScriptMarkBase = 8,       // 8 + 8 x role + script: see rendezvous.cpp
  kScriptMarksPerRole = 8,   // scripts 1 to 7
};

// The presence byte of the party of `role`.
inline int32_t presence_byte(int32_t role) { return role == 0 ? kPresenceByteRole0 : kPresenceByteRole1; }

// One byte at `offset`, exclusive or shared, never waiting.  FALSE with the
// reason in GetLastError.
BOOL lock_master_byte(HANDLE master, int32_t offset, LockKind kind);
BOOL unlock_master_byte(HANDLE master, int32_t offset);

// `offset` taken exclusively: 1; 0 when the other party holds it; -1 with
// *error = {15, error} when the request failed otherwise.  A probe of
// whether the other party holds a byte releases it again at once when taken.
int take_master_byte(HANDLE master, int32_t offset, ErrorInfo* error);

// Wall-clock seconds, as the other host counts them.
time_t sync_clock();
// More than timeout_sec whole seconds since `start`; never when timeout_sec is 0.
bool time_limit_exceeded(time_t start, int32_t timeout_sec);

// Every wait of the handshake: `attempt` now and then after each pause of
// the poll schedule until it settles (1 done: 0; -1 failed, *error set by
// the attempt: -1), or until the time limit since `start` is exceeded
// (*error = {22, 0}: -1).  An attempt never returns 0 holding the guard:
// nobody sleeps holding it.
template <class Attempt>
int poll_until(const SyncState* state, time_t start, ErrorInfo* error, Attempt attempt) {
  PollSchedule schedule;
  for (;;) {
    const int settled = attempt();
    if (settled != 0) return settled > 0 ? 0 : -1;
    if (time_limit_exceeded(start, state->timeout_sec)) {
      set_error(error, kErrTimedOut, 0);
      return -1;
    }
    schedule.pause();
  }
}

// Takes the guard byte (poll_until): 0 with holds_guard set, or -1 with
// *error set.  Reports nothing.
int take_guard(SyncState* state, time_t start, ErrorInfo* error);
// Clears holds_guard and releases byte 0.  FALSE with *error = {10, error}.
BOOL release_guard(SyncState* state, ErrorInfo* error);

// The script marks (scripts.cpp), under the guard.  mark_script takes the
// mark of `role` for this party's script, unmark_script releases it (a
// failure of either is not reported: the party is then taken for one of an
// older build, which marks nothing).  script_of: the script whose mark of
// `role` another party holds; 0 none; -1 with *error = {15, error}.
int32_t script_mark_byte(int32_t role, int32_t script);
void mark_script(SyncState* state, int32_t role);
void unmark_script(SyncState* state, int32_t role);
int32_t script_of(SyncState* state, int32_t role, ErrorInfo* error);
// Two scripts, both known, that are not the same.
bool scripts_differ(int32_t mine, int32_t theirs);

// Records come from VirtualAlloc and are known as live until released
// (records.cpp).  allocate_record gives nullptr with the reason in the last
// error.  record_is_live: the caller holds resource_lock.
SyncState* allocate_record();
void release_record(SyncState* state);
bool record_is_live(const SyncState* state);
// Whether another live record that is not torn down has the same master file
// open.  The caller holds resource_lock.
bool master_open_elsewhere(const SyncState* state);

// sync_teardown for the record's own thread, which does not hold
// resource_lock: the deletions, slow on a slow share, are made outside it.
void teardown_by_owner(SyncState* state, int do_delete);

#endif
