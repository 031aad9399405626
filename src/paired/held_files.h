// What a test of the single or the mutual check holds, kept where its
// clean-up and its console control handler find it: the handles and names
// of its check files and its synchronisation record.  Every change goes
// through here, under resource_lock, so that a test, its partner and a
// console handler never close one handle twice or clear a name while
// another pass deletes by it.
#ifndef ZARN_PAIRED_HELD_FILES_H
#define ZARN_PAIRED_HELD_FILES_H

#include "fileops/check_name.h"
#include "platform/win32.h"
#include "sync/sync.h"

struct CheckFileSlot {
  HANDLE own_handle;
  HANDLE partner_handle;
  char own_file_name[261];
  // The other party's file, which this party may be the one to create:
  // until the other party holds it as its own, only this name lets a
  // deletion pass find it.
  char partner_file_name[261];
  SyncState* sync_state;
};

// Empties the record: no handles, no names, no synchronisation.
void prepare_slot(CheckFileSlot* slot);
// Copies `name` (at most 260 characters) into a name field of a record.
void slot_set_name(char (&field)[261], const char* name);

// Opens a check file (read and write, shared for reading and writing) into
// a handle field of a record.  Once the process is ending (a console control
// handler has begun), a thread that would create a file now (one that no
// deletion pass would see) waits for that end instead.  The reason of a
// failure stays in the last error.
HANDLE slot_open(HANDLE* field, const char* name, DWORD disposition);
// Prints message `msg` (its "%s" filled with the shown name), then opens
// the path into `field` (slot_open).  A name that could not be made is not
// opened: INVALID_HANDLE_VALUE with its error in the last error.
HANDLE announce_and_open(int msg, const CheckFileName& name, HANDLE* field, DWORD disposition);
// close_handle on a handle field; INVALID_HANDLE_VALUE once closed.  The
// last error is kept.
void slot_close_handle(HANDLE* field);

// Unlocks byte 0 and closes both handles; a handle that fails to close
// stays.  The caller holds resource_lock.
void release_slot_handles(CheckFileSlot* slot);
// The termination handshake of the record's synchronisation, which waits
// for the other party, so outside resource_lock.  The record stays in the
// slot meanwhile, so that an interrupt now still tears it down and deletes
// the synchronisation files; the slot forgets it afterwards.
void finish_slot_sync(CheckFileSlot* slot);

// A console handler's clean-up of the records `slots`, with resource_lock
// held: the tests' threads stopped before anything is released, every handle
// released, the check files named in the records deleted while each
// synchronisation is torn down (its files deleted, the other party not
// waited for).  A name stays when its file could not be deleted.  Nothing is
// reported: the handler's thread prints nothing.
void interrupt_slots(CheckFileSlot* const* slots, int count);

#endif
