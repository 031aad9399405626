// Pairing two parties on the master file of the -h folder.
#include <cstdio>

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

SyncState* sync_setup(int32_t mode, const char* folder, int32_t timeout_sec, SyncKeeper keep) {
  report_line(message_text(kMsgSyncSetupStarting));
  enter_working_frame();

  // The record is ready before the console handler can reach it.
  EnterCriticalSection(&resource_lock);
  SyncSetupSlot& slot = sync_setup_slots[sync_setup_slots[0].state == nullptr ? 0 : 1];
  SyncState* state = allocate_record();
  const DWORD alloc_error = GetLastError();
  if (state != nullptr) {
    *state = SyncState{};
    state->master_file = INVALID_HANDLE_VALUE;
    state->timeout_sec = timeout_sec;
  }
  slot.state = state;
  LeaveCriticalSection(&resource_lock);
  if (state == nullptr) {
    const ErrorInfo error = {kErrNoMemory, static_cast<int32_t>(alloc_error)};
    report_error(&error);
    leave_working_frame();
    return nullptr;
  }

  SetConsoleCtrlHandler(sync_console_handler, TRUE);
  const int paired = pair_up(state, mode, folder);
  if (paired != 0) teardown_by_owner(state, 1);

  // Out of the table and into the caller's keeping in one step: a console
  // handler finds the record in one place or the other.
  EnterCriticalSection(&resource_lock);
  if (paired != 0) {
    release_record(state);
  } else if (keep != nullptr) {
    keep(state);
  }
  slot.state = nullptr;
  LeaveCriticalSection(&resource_lock);
  SetConsoleCtrlHandler(sync_console_handler, FALSE);
  leave_working_frame();
  if (paired != 0) return nullptr;
  report_line(message_text(kMsgSyncSetupDone));
  return state;
}
