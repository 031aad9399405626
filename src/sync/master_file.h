// The few moves every step of the handshake is made of: one-byte locks on
// the master file (byte meanings in rendezvous.cpp), the time limit and the
// guard byte.  Internal to the synchronisation.
//
// Every request carries LOCKFILE_FAIL_IMMEDIATELY and answers at once; a
// byte the other party holds shows as ERROR_LOCK_VIOLATION.
#ifndef ZARN_SYNC_MASTER_FILE_H
#define ZARN_SYNC_MASTER_FILE_H

#include <stdint.h>
#include <time.h>

#include "report/report.h"
#include "sync/sync.h"

enum : int32_t {
  kGuardByte = 0,
  kInRendezvousByte = 3,
};

// One byte at `offset`, exclusive or shared, never waiting.  FALSE with the
// reason in GetLastError.
BOOL lock_master_byte(HANDLE master, int32_t offset, int exclusive);
BOOL unlock_master_byte(HANDLE master, int32_t offset);

// Whether the other party holds `offset`: an exclusive request that the
// caller releases again at once when it is granted (kGranted).  kFailed: the
// request failed otherwise, reason in GetLastError.
enum class Probe { kHeld, kGranted, kFailed };
Probe probe_master_byte(HANDLE master, int32_t offset);

// Wall-clock seconds, as the other host counts them.
time_t sync_clock();
// More than timeout_sec whole seconds since `start`; never when timeout_sec is 0.
bool time_limit_exceeded(time_t start, int32_t timeout_sec);

// Takes the guard byte, trying every 100 ms.  0 with holds_guard set; -1 with
// *error = {22, 0} once the time limit is exceeded or {15, error} when the
// request fails otherwise.  Reports nothing.
int take_guard(SyncState* state, time_t start, ErrorInfo* error);
// Clears holds_guard and releases byte 0.  FALSE with *error = {10, error}.
BOOL release_guard(SyncState* state, ErrorInfo* error);

void set_error(ErrorInfo* error, int32_t code, DWORD system_error);

// Records come from VirtualAlloc and are known as live until released
// (live_records.cpp).  allocate_record gives nullptr with the reason in the
// last error.  record_is_live: the caller holds resource_lock.
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
