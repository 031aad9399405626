// The held-files record and its guarded changes.
#include "paired/held_files.h"

#include <string.h>

#include <initializer_list>

#include "base/process_end.h"
#include "fileops/fileops.h"
#include "report/json_report.h"
#include "report/report.h"

void prepare_slot(CheckFileSlot* slot) {
  ResourceLockHold hold;
  slot->own_handle = INVALID_HANDLE_VALUE;
  slot->partner_handle = INVALID_HANDLE_VALUE;
  memset(slot->own_file_name, 0, sizeof slot->own_file_name);
  memset(slot->partner_file_name, 0, sizeof slot->partner_file_name);
  slot->sync_state = nullptr;
}

void slot_set_name(char (&field)[261], const char* name) {
  ResourceLockHold hold;
  memset(field, 0, sizeof field);
  memcpy(field, name, strnlen(name, sizeof field - 1));
}

HANDLE slot_open(HANDLE* field, const char* name, DWORD disposition) {
  // Outside resource_lock: on a slow share an open takes long, and a console
  // handler must not wait behind it for the lock.  It waits for the open
  // instead, which ends with the handle in its slot.
  begin_file_call();
  HANDLE file = open_test_file(name, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, disposition);
  const DWORD error = GetLastError();
  {
    ResourceLockHold hold;
    *field = file;
    end_file_call();
  }
  SetLastError(error);
  return file;
}

HANDLE announce_and_open(int msg, const CheckFileName& name, HANDLE* field, DWORD disposition) {
  report_message(msg, name.shown);
  if (name.error != 0) {
    SetLastError(name.error);
    return INVALID_HANDLE_VALUE;
  }
  return slot_open(field, name.path, disposition);
}

void slot_close_handle(HANDLE* field) {
  const DWORD error = GetLastError();
  {
    ResourceLockHold hold;
    close_handle(field);
  }
  SetLastError(error);
}

void release_slot_handles(CheckFileSlot* slot) {
  for (HANDLE* handle : {&slot->own_handle, &slot->partner_handle}) {
    if (*handle == INVALID_HANDLE_VALUE) continue;
    unlock_byte(*handle);
    close_handle(handle);
  }
}

void finish_slot_sync(CheckFileSlot* slot) {
  SyncState* sync;
  {
    ResourceLockHold hold;
    sync = slot->sync_state;
  }
  if (sync == nullptr) return;
  sync_finish(sync);
  ResourceLockHold hold;
  slot->sync_state = nullptr;
}

namespace {

// The deletions of every name in the records start at once, own files first.
void start_slot_deletions(CheckFileSlot* const* slots, int count, DeletionBatch* batch) {
  batch->count = 0;
  for (int i = 0; i < count; ++i) {
    if (slots[i]->own_file_name[0] != '\0') start_deletion(batch, slots[i]->own_file_name);
  }
  for (int i = 0; i < count; ++i) {
    if (slots[i]->partner_file_name[0] != '\0') start_deletion(batch, slots[i]->partner_file_name);
  }
}

// Once they have ended: an own file's name is cleared when it went, a partner
// file's also when it no longer exists.
void finish_slot_deletions(CheckFileSlot* const* slots, int count, DeletionBatch* batch) {
  finish_deletions(batch);
  for (int d = 0; d < batch->count; ++d) {
    const Deletion& deletion = batch->deletions[d];
    const bool gone = deletion.went || deletion.error == ERROR_FILE_NOT_FOUND;
    if (!deletion.went) note_left_behind(deletion.name);
    for (int i = 0; i < count; ++i) {
      CheckFileSlot* slot = slots[i];
      if (deletion.went && strcmp(slot->own_file_name, deletion.name) == 0) {
        memset(slot->own_file_name, 0, sizeof slot->own_file_name);
      }
      if (gone && strcmp(slot->partner_file_name, deletion.name) == 0) {
        memset(slot->partner_file_name, 0, sizeof slot->partner_file_name);
      }
    }
  }
}

}  // namespace

void interrupt_slots(CheckFileSlot* const* slots, int count) {
  // The tests' threads stop before anything they hold is released: none of
  // them reports a handle closed or a partner torn down under it.
  stop_working_threads();
  for (int i = 0; i < count; ++i) release_slot_handles(slots[i]);
  // The check files go while the synchronisation is torn down: on a slow
  // share each deletion takes a round trip.
  DeletionBatch batch;
  start_slot_deletions(slots, count, &batch);
  for (int i = 0; i < count; ++i) {
    if (slots[i]->sync_state != nullptr) {
      // The other party is not waited for; the process is about to end.
      sync_teardown(slots[i]->sync_state, 1);
      slots[i]->sync_state = nullptr;
    }
  }
  finish_slot_deletions(slots, count, &batch);
}
