// Releasing a party's bytes, closing the master file and, on request,
// deleting both synchronisation files.
#include "driver/run_options.h"
#include "sync/master_file.h"

namespace {

void tear_down(SyncState* state, int do_delete) {
  if (state->master_file != INVALID_HANDLE_VALUE) {
    // Failures change nothing here: closing the handle drops every lock
    // still held (the shared lock of byte 3 among them).
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
    if (do_delete) {
      // Fails while the partner still has the master file open (it is never
      // opened with delete sharing).  The master file goes first, so a party
      // that sees the end-wait file gone knows the master file is gone too.
      DeleteFileA(state->master_name);
      DeleteFileA(state->endwait_name);
    }
  }
  state->torn_down = 1;
}

}  // namespace

// Under resource_lock: a console handler and the record's own thread may
// both tear it down, and the handler may hold a pointer to a record its owner
// has released meanwhile.
void sync_teardown(SyncState* state, int do_delete) {
  if (state == nullptr) return;
  EnterCriticalSection(&resource_lock);
  if (record_is_live(state) && !state->torn_down) tear_down(state, do_delete);
  LeaveCriticalSection(&resource_lock);
}

