// Pairing two parties on the master file of the -h folder, and the console
// handler that tears down the set-ups an interrupt meets.
#include <cstdio>

#include "base/interrupts.h"
#include "base/process_end.h"
#include "base/run_options.h"
#include "sync/master_file.h"

SyncSetupSlot sync_setup_slots[2];

namespace {

// Both names, or false when one would not fit in 255 characters: a cut name
// could lose the process id and let two processes meet on one master file.
bool make_sync_names(SyncState* state, int32_t mode, const char* folder, const char* host) {
  int master_length;
  int endwait_length;
  if (mode == kModeSingle) {
    const int pid = static_cast<int>(GetCurrentProcessId());
    master_length = std::snprintf(state->master_name, sizeof(state->master_name),
                                  "%s" ZARN_PATH_SEPARATOR ".#ZARLOCK.%s.%d.master", folder, host,
                                  pid);
    endwait_length = std::snprintf(state->endwait_name, sizeof(state->endwait_name),
                                   "%s" ZARN_PATH_SEPARATOR "%s.%d.endwaitfile", folder, host, pid);
  } else {
    master_length = std::snprintf(state->master_name, sizeof(state->master_name),
                                  "%s" ZARN_PATH_SEPARATOR ".#ZARLOCK.master", folder);
    endwait_length = std::snprintf(state->endwait_name, sizeof(state->endwait_name),
                                   "%s" ZARN_PATH_SEPARATOR "endwaitfile", folder);
  }
  const int limit = static_cast<int>(sizeof(state->master_name)) - 1;
  return master_length >= 0 && master_length <= limit && endwait_length >= 0 &&
         endwait_length <= limit;
}

// A party that found both markers of the first rendezvous held (bytes 1 and
// 2, the presence bytes of a pair), or that gave way to another pairing, is
// a third party: the synchronisation files belong to that pair.  Its
// tear-down deletes neither of them: the end-wait file may be the one the
// pair's first party out is waiting on.
bool turned_away(const SyncState* state) {
  return state->gave_way || (state->own_presence_byte == 0 && state->step == 2);
}

// Opens the master file and runs the first rendezvous; reports its failure.
int pair_up(SyncState* state, int32_t mode, const char* folder) {
  ErrorInfo error = {0, 0};
  report_line(message_text(kMsgNamingSyncFiles));
  char host[256] = {};
  if (mode == kModeSingle) {
    DWORD host_size = sizeof(host);
    if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &host_size)) {
      set_error(&error, kErrHostName, GetLastError());
      report_error(&error);
      return -1;
    }
  }
  const bool named = make_sync_names(state, mode, folder, host);

  report_line(message_text(kMsgOpeningSyncFile));
  if (!named) {
    set_error(&error, kErrShareFileNotOpened, ERROR_FILENAME_EXCED_RANGE);
    report_error(&error);
    return -1;
  }
  begin_file_call();
  state->master_file = open_sync_file(state->master_name);
  const DWORD open_error = GetLastError();
  end_file_call();
  if (state->master_file == INVALID_HANDLE_VALUE) {
    set_error(&error, kErrShareFileNotOpened, open_error);
    report_error(&error);
    return -1;
  }
  state->step = 1;
  return sync_rendezvous(state);
}

}  // namespace

SyncState* sync_setup(int32_t mode, const char* folder, int32_t timeout_sec, SyncKeeper keep,
                      const void* context, int32_t script) {
  report_line(message_text(kMsgSyncSetupStarting));
  enter_working_frame();

  // The record is ready before the console handler can reach it.
  SyncSetupSlot* slot;
  SyncState* state;
  DWORD alloc_error;
  {
    ResourceLockHold hold;
    slot = &sync_setup_slots[sync_setup_slots[0].state == nullptr ? 0 : 1];
    state = allocate_record();
    alloc_error = GetLastError();
    if (state != nullptr) {
      *state = SyncState{};
      state->master_file = INVALID_HANDLE_VALUE;
      state->timeout_sec = timeout_sec;
      state->script = script;
    }
    slot->state = state;
  }
  if (state == nullptr) {
    const ErrorInfo error = {kErrNoMemory, static_cast<int32_t>(alloc_error)};
    report_error(&error);
    leave_working_frame();
    return nullptr;
  }

  register_interrupt_cleanup(sync_console_handler);
  const int paired = pair_up(state, mode, folder);
  if (paired != 0) teardown_by_owner(state, turned_away(state) ? 0 : 1);

  // Out of the table and into the caller's keeping in one step: a console
  // handler finds the record in one place or the other.
  {
    ResourceLockHold hold;
    if (paired != 0) {
      release_record(state);
    } else if (keep != nullptr) {
      keep(state, context);
    }
    slot->state = nullptr;
  }
  unregister_interrupt_cleanup(sync_console_handler);
  leave_working_frame();
  if (paired != 0) return nullptr;
  report_line(message_text(kMsgSyncSetupDone));
  return state;
}

BOOL WINAPI sync_console_handler(DWORD /*control_type*/) {
  ResourceLockHold hold;
  // Every working thread, the set-ups' among them, stops before anything is
  // torn down: no thread touches a record once it is torn down, and none
  // meets a partner torn down under it.
  stop_working_threads();
  for (SyncSetupSlot& slot : sync_setup_slots) {
    if (slot.state == nullptr) continue;
    sync_teardown(slot.state, 1);  // torn down, never released: its thread still points at it
    slot.state = nullptr;
  }
  return FALSE;  // the handlers registered before, and at last the system, end the process
}
