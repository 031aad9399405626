// SyncState records: allocated, known as live until released, and torn
// down (bytes released, master file closed and, on request, both
// synchronisation files deleted).
//
// A console control handler may meet a record pointer in a slot just after
// the record's owner released it (sync_finish releases, then its caller
// forgets the pointer).  Tear-downs therefore go through the table of live
// records, under resource_lock, and leave alone a record that is no longer
// live.
#include <string.h>

#include <algorithm>
#include <vector>

#include "base/process_end.h"
#include "sync/master_file.h"

namespace {
std::vector<SyncState*>& live_records() {
  static auto* records = new std::vector<SyncState*>();
  return *records;
}
}  // namespace

SyncState* allocate_record() {
  auto* state = static_cast<SyncState*>(
      VirtualAlloc(nullptr, sizeof(SyncState), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (state == nullptr) return nullptr;
  const DWORD ok = GetLastError();
  {
    ResourceLockHold hold;
    std::vector<SyncState*>& records = live_records();
    if (std::find(records.begin(), records.end(), state) == records.end()) records.push_back(state);
  }
  SetLastError(ok);
  return state;
}

void release_record(SyncState* state) {
  ResourceLockHold hold;
  std::vector<SyncState*>& records = live_records();
  records.erase(std::remove(records.begin(), records.end(), state), records.end());
  VirtualFree(state, 0, MEM_RELEASE);
}

bool record_is_live(const SyncState* state) {
  const std::vector<SyncState*>& records = live_records();
  return std::find(records.begin(), records.end(), state) != records.end();
}

bool master_open_elsewhere(const SyncState* state) {
  for (const SyncState* other : live_records()) {
    if (other != state && !other->torn_down && other->master_file != INVALID_HANDLE_VALUE &&
        strcmp(other->master_name, state->master_name) == 0) {
      return true;
    }
  }
  return false;
}

namespace {

// Under resource_lock.  Failures change nothing here: closing the handle
// drops every lock still held (the shared lock of byte 3 among them).
// Whether the master file was open.
bool release_and_close(SyncState* state) {
  if (state->master_file == INVALID_HANDLE_VALUE) return false;
  if (state->step != 0) {
    unlock_master_byte(state->master_file, state->step);
    state->step = 0;
  }
  if (state->own_presence_byte != 0) {
    unlock_master_byte(state->master_file, state->own_presence_byte);
    state->own_presence_byte = 0;
  }
  if (state->holds_guard) {
    state->holds_guard = 0;
    unlock_master_byte(state->master_file, kGuardByte);
  }
  CloseHandle(state->master_file);
  state->master_file = INVALID_HANDLE_VALUE;
  return true;
}

// Fails while the partner still has the master file open (it is never opened
// with delete sharing).  The master file goes first, so a party that sees the
// end-wait file gone knows the master file is gone too.
void delete_sync_files(const SyncState* state) {
  DeleteFileA(state->master_name);
  DeleteFileA(state->endwait_name);
}

}  // namespace

// A console handler and the record's own thread may both tear it down, and
// the handler may hold a pointer to a record its owner has released meanwhile.
void sync_teardown(SyncState* state, int do_delete) {
  if (state == nullptr) return;
  ResourceLockHold hold;
  if (record_is_live(state) && !state->torn_down) {
    // While another record of this process still has the master file open,
    // a deletion could only fail; that record's tear-down deletes it.
    if (release_and_close(state) && do_delete && !master_open_elsewhere(state)) {
      delete_sync_files(state);
    }
    state->torn_down = 1;
  }
}

void teardown_by_owner(SyncState* state, int do_delete) {
  // Announced before anything is released: once the process is ending this
  // never returns, and the console handler tears the untouched record down.
  if (do_delete) begin_file_call();
  bool opened = false;
  {
    ResourceLockHold hold;
    if (record_is_live(state) && !state->torn_down) {
      opened = release_and_close(state);
      state->torn_down = 1;
    }
  }
  if (do_delete) {
    if (opened) delete_sync_files(state);  // slow on a slow share: not under resource_lock
    end_file_call();
  }
}
