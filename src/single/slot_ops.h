// Internal to the single-host tests: every change to check_slots goes
// through here, under resource_lock, so that a test, its partner and the
// console control handler never close one handle twice or clear a name
// while another pass deletes by it.
#ifndef ZARN_SINGLE_SLOT_OPS_H
#define ZARN_SINGLE_SLOT_OPS_H

#include "base/process_end.h"
#include "base/run_options.h"
#include "fileops/check_name.h"
#include "fileops/fileops.h"
#include "single/check_slots.h"

// Copies `name` (at most 260 characters) into the slot's own_file_name.
void slot_set_name(int slot, const char* name);

// The frame of every single-host test: the slot prepared, the thread a
// working thread and the console handler registered on the way in; on every
// way out, the slot cleaned up (single_cleanup) and the rest undone.
void enter_slot_test(int slot);
void leave_slot_test(int slot);
// The same frame without the slot, for the paired lock sequence, whose slot
// is known only once the set-up has given a role: the set-up hands its
// record over with keep_in_check_slot, which prepares that slot.
void enter_test_frame();
void leave_test_frame();
void keep_in_check_slot(SyncState* state, void* context);
// The name of the other participant's file, which this participant may be
// the one to create: until the other has prepared its slot, only this
// entry lets a deletion pass find that file.  Kept beside the slots;
// prepare_slot clears it.
void slot_set_partner_name(int slot, const char* name);
extern char partner_file_names[2][261];
// Opens a check file (read and write, shared for reading and writing) into
// a field of a slot.  Once the process is ending (a console control handler
// has begun), a thread that would create a file now (one that no deletion
// pass would see) waits for that end instead.  The reason of a failure
// stays in the last error.
HANDLE slot_open(HANDLE* field, const char* name, DWORD disposition);
// close_handle on a field of a slot; the field becomes INVALID_HANDLE_VALUE
// once closed.  The last error is kept.
void slot_close_handle(HANDLE* field);
// Prints message `msg` (its "%s" filled with the shown name), then opens the
// path into `field` (slot_open).  A name that could not be made is not
// opened: INVALID_HANDLE_VALUE with its error in the last error.
HANDLE announce_and_open(int msg, const CheckFileName& name, HANDLE* field, DWORD disposition);
// The opening of the tests that work alone on check file 0 of `folder`:
// names it into slot 0 and `name`, prints "The file will now be opened.",
// and opens it (OPEN_ALWAYS) into own_handle.  INVALID_HANDLE_VALUE with the
// reason in the last error.
HANDLE open_own_check_file(const RunOptions* options, const char* folder, char name[261]);
void slot_set_sync_state(int slot, SyncState* state);

// The names a deletion pass deleted, in slot order, for message 11.  They
// are printed after resource_lock is left: a console that blocks the
// printing thread must never block a console control handler.
struct DeletedFiles {
  int count;
  char names[4][261];
};

// Unlocks byte 0 and closes both handles; a handle that fails to close
// stays.  The caller holds resource_lock.
void release_slot_handles(CheckFileSlot* slot);
// Deletes the files named in both slots, slot 0 first, clearing each name
// that went; a name whose deletion fails stays for the next pass.  Then the
// partner file names, cleared also when their file is already gone.  The
// caller does not hold resource_lock: each deletion, slow on a slow share,
// is made outside it.
void delete_slot_files(DeletedFiles* deleted);
// The same pass for a console handler, which holds resource_lock: the
// deletions start at once, and the names are cleared when they have ended.
void start_slot_deletions(DeletionBatch* batch);
void finish_slot_deletions(DeletionBatch* batch);

#endif
