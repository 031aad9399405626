// The clean-up every single-host test runs on its way out.
#include <string.h>

#include "fileops/fileops.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/slot_ops.h"

namespace {
const int kMsgFileDeleted = 11;
}  // namespace

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

// Deletes the file `name` names; true when it went.  The name is cleared
// when it went, or when `gone_is_done` and the file no longer exists.
bool delete_named(char* name, bool gone_is_done, DeletedFiles* deleted) {
  if (name[0] == '\0') return false;
  if (!DeleteFileA(name)) {
    if (gone_is_done && GetLastError() == ERROR_FILE_NOT_FOUND) memset(name, 0, 261);
    return false;  // otherwise kept for the next pass
  }
  if (deleted->count < 4) memcpy(deleted->names[deleted->count++], name, 261);
  memset(name, 0, 261);
  return true;
}

}  // namespace

void delete_slot_files(DeletedFiles* deleted) {
  deleted->count = 0;
  for (CheckFileSlot& slot : check_slots) delete_named(slot.own_file_name, false, deleted);
  for (char* name : partner_file_names) delete_named(name, true, deleted);
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
  {
    ResourceLockHold hold;
    delete_slot_files(&deleted);
  }
  for (int i = 0; i < deleted.count; ++i) report_message(kMsgFileDeleted, deleted.names[i]);
  return 0;
}
