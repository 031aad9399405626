// Two parties pairing up and stepping together through one-byte locks on a
// master file in the -h folder.  The byte meanings are a protocol between
// hosts: see the table in rendezvous.cpp.
#ifndef ZARN_SYNC_SYNC_H
#define ZARN_SYNC_SYNC_H

#include <stdint.h>

#include "platform/win32.h"

struct SyncState {
  HANDLE master_file;
  int32_t step;
  int32_t timeout_sec;
  int32_t partner_presence_byte;
  int32_t own_presence_byte;
  int32_t role;
  int32_t holds_guard;
  int32_t torn_down;
  char master_name[256];
  char endwait_name[256];
  // Which script of the run this party follows (1, 2, ... in the order of
  // the run; 0 none), marked beside its presence byte so that two parties
  // of different scripts never pair (rendezvous.cpp).
  int32_t script;
  int32_t gave_way;  // the set-up met another pairing and left its files to it
};

// A record under set-up, where sync_console_handler finds it.  Its thread is
// a working thread (process_end.h), which every console handler stops first.
struct SyncSetupSlot {
  SyncState* state;  // or nullptr
};
extern SyncSetupSlot sync_setup_slots[2];

// Called under resource_lock, with the caller's `context`, at the moment a
// paired record leaves the set-up's table, to put it where the caller's own
// console handler finds it: a console event at any moment then reaches the
// record.
typedef void (*SyncKeeper)(SyncState* state, const void* context);
// On success the record has been handed to `keep` (when given).  The caller
// does not hold resource_lock.
// `script`: see SyncState::script.
SyncState* sync_setup(int32_t mode, const char* folder, int32_t timeout_sec,
                      SyncKeeper keep = nullptr, const void* context = nullptr,
                      int32_t script = 0);
// Under resource_lock, for console handlers and callers that hold it.
void sync_teardown(SyncState* state, int do_delete);
HANDLE open_sync_file(const char* name);
BOOL WINAPI sync_console_handler(DWORD control_type);

int sync_rendezvous(SyncState* state);
int sync_step(SyncState* state);
int sync_finish(SyncState* state);

#endif
