// Internal to the single-host tests: every change to check_slots goes
// through here, under resource_lock, so that a test, its partner and the
// console control handler never close one handle twice or clear a name
// while another pass deletes by it.
#ifndef ZARN_SINGLE_SLOT_OPS_H
#define ZARN_SINGLE_SLOT_OPS_H

#include "driver/run_options.h"
#include "single/check_slots.h"

// Holds resource_lock for the life of the scope.
class ResourceLockHold {
 public:
  ResourceLockHold() { EnterCriticalSection(&resource_lock); }
  ~ResourceLockHold() { LeaveCriticalSection(&resource_lock); }
  ResourceLockHold(const ResourceLockHold&) = delete;
  ResourceLockHold& operator=(const ResourceLockHold&) = delete;
};

// Copies `name` (at most 260 characters) into the slot's own_file_name.
void slot_set_name(int slot, const char* name);
// Stores a handle the test has just opened into a field of a slot.
void slot_set_handle(HANDLE* field, HANDLE value);
// close_handle on a field of a slot; the field becomes INVALID_HANDLE_VALUE
// once closed.  The last error is kept.
void slot_close_handle(HANDLE* field);
void slot_set_sync_state(int slot, SyncState* state);

// The names a deletion pass deleted, in slot order, for message 11.  They
// are printed after resource_lock is left: a console that blocks the
// printing thread must never block a console control handler.
struct DeletedFiles {
  int count;
  char names[2][261];
};

// The caller holds resource_lock for both.
// Unlocks byte 0 and closes both handles; a handle that fails to close stays.
void release_slot_handles(CheckFileSlot* slot);
// Deletes the files named in both slots, slot 0 first, clearing each name
// that went; a name whose deletion fails stays for the next pass.
void delete_slot_files(DeletedFiles* deleted);

#endif
