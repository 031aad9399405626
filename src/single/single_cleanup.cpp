// The clean-up every single-host test runs on its way out.
#include <string.h>

#include "base/process_end.h"
#include "fileops/fileops.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/slot_ops.h"

void release_slot_handles(CheckFileSlot* slot) {
  if (slot->own_handle != INVALID_HANDLE_VALUE) {
    unlock_byte(slot->own_handle);
    close_handle(&slot->own_handle);
  }
  if (slot->partner_handle != INVALID_HANDLE_VALUE) {
    unlock_byte(slot->partner_handle);
    close_handle(&slot->partner_handle);
  }
}

namespace {

bool went_in_this_pass(const char* name, const DeletedFiles* deleted) {
  for (int i = 0; i < deleted->count; ++i) {
    if (strcmp(deleted->names[i], name) == 0) return true;
  }
  return false;
}

// Deletes the file that `field` names; true when it went.  The field is
// cleared when the file went, or when `gone_is_done` and it no longer exists,
// unless it names another file by then.  A file that went earlier in this
// pass is not deleted again: another participant's pass may be deleting it
// at the same moment, and Windows lets both deletions succeed.
bool delete_named(char* field, bool gone_is_done, DeletedFiles* deleted) {
  char name[261];
  {
    ResourceLockHold hold;
    memcpy(name, field, sizeof name);
    if (name[0] != '\0' && gone_is_done && went_in_this_pass(name, deleted)) {
      memset(field, 0, 261);
      return false;
    }
  }
  if (name[0] == '\0') return false;
  begin_file_call();
  const bool went = DeleteFileA(name) != FALSE;
  const bool gone = !went && GetLastError() == ERROR_FILE_NOT_FOUND;
  {
    ResourceLockHold hold;
    if ((went || (gone_is_done && gone)) && strcmp(field, name) == 0) memset(field, 0, 261);
    end_file_call();
  }
  if (went && deleted->count < 4) memcpy(deleted->names[deleted->count++], name, 261);
  return went;
}

}  // namespace

void delete_slot_files(DeletedFiles* deleted) {
  deleted->count = 0;
  for (CheckFileSlot& slot : check_slots) delete_named(slot.own_file_name, false, deleted);
  for (char* name : partner_file_names) delete_named(name, true, deleted);
}

void start_slot_deletions(DeletionBatch* batch) {
  batch->count = 0;
  for (CheckFileSlot& slot : check_slots) {
    if (slot.own_file_name[0] != '\0') start_deletion(batch, slot.own_file_name);
  }
  for (char* name : partner_file_names) {
    if (name[0] != '\0') start_deletion(batch, name);
  }
}

void finish_slot_deletions(DeletionBatch* batch) {
  finish_deletions(batch);
  for (int i = 0; i < batch->count; ++i) {
    const Deletion& d = batch->deletions[i];
    const bool gone = d.went || d.error == ERROR_FILE_NOT_FOUND;
    for (CheckFileSlot& slot : check_slots) {
      if (d.went && strcmp(slot.own_file_name, d.name) == 0) memset(slot.own_file_name, 0, 261);
    }
    for (char* name : partner_file_names) {
      if (gone && strcmp(name, d.name) == 0) memset(name, 0, 261);
    }
  }
}

int single_cleanup(int slot) {
  CheckFileSlot& s = check_slots[slot];
  SyncState* sync = nullptr;
  {
    ResourceLockHold hold;
    release_slot_handles(&s);
    sync = s.sync_state;
  }
  // The termination handshake waits for the other participant, so it runs
  // outside resource_lock.  The record stays in the slot meanwhile, so that
  // an interruption now still tears it down and deletes the sync files.
  if (sync != nullptr) {
    sync_finish(sync);
    slot_set_sync_state(slot, nullptr);
  }
  DeletedFiles deleted;
  delete_slot_files(&deleted);
  for (int i = 0; i < deleted.count; ++i) report_message(kMsgDeleted, deleted.names[i]);
  return 0;
}
