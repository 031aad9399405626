// The closing handshake: the first party out leaves the end-wait file and
// waits until it is gone; the last party out deletes both files.
#include "base/process_end.h"
#include "fileops/fileops.h"
#include "sync/master_file.h"

namespace {

// Waits until the partner is outside any rendezvous: byte 3 taken exclusively
// under the guard, then released.  Returns with the guard held.
int wait_until_outside_rendezvous(SyncState* state, time_t start, ErrorInfo* error) {
  return poll_until(state, start, error, [&] {
    if (take_guard(state, start, error) != 0) return -1;
    const int taken = take_master_byte(state->master_file, kInRendezvousByte, error);
    if (taken < 0) return -1;
    if (taken == 0) return release_guard(state, error) ? 0 : -1;
    if (unlock_master_byte(state->master_file, kInRendezvousByte)) return 1;
    set_error(error, kErrUnlockFailed, GetLastError());
    return -1;
  });
}

void create_endwait_file(const char* name) {
  // Created and closed as one file call: a clean-up that deletes the file
  // never meets it still open.
  begin_file_call();
  HANDLE file = open_plain_file(name, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL);
  // Not reported: without the file the partner is simply not waited for.
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  end_file_call();
}

bool file_exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

// The partner never deleted the end-wait file.  A live partner still has
// the master file open, which refuses the deletion (no delete sharing): it
// keeps both files and deletes them itself, and the wait timed out (22).
// Otherwise no live party holds them: the partner has ended (24), and this
// party deletes both, the master file first, as the last party out would.
void give_up_on_partner(const SyncState* state, ErrorInfo* error) {
  begin_file_call();
  const bool master_gone =
      DeleteFileA(state->master_name) || GetLastError() == ERROR_FILE_NOT_FOUND;
  if (master_gone) {
    DeleteFileA(state->endwait_name);
    set_error(error, kErrPartnerEnded, 0);
  }
  end_file_call();
}

// First party out: the partner lives and will delete both files.
int finish_first(SyncState* state, time_t start) {
  report_line(message_text(kMsgCreatingEndWaitFile));
  create_endwait_file(state->endwait_name);
  report_line(message_text(kMsgReleasingResources));
  sync_teardown(state, 0);  // this party's presence byte is free from here on
  report_line(message_text(kMsgWaitingForPartnerEnd));
  ErrorInfo error = {0, 0};
  if (poll_until(state, start, &error,
                 [&] { return file_exists(state->endwait_name) ? 0 : 1; }) != 0) {
    give_up_on_partner(state, &error);
    report_error(&error);
    release_record(state);
    return -1;
  }
  release_record(state);
  report_line(message_text(kMsgSyncFinished));
  return 0;
}

// Last party out, or any failure: release, close and, when `do_delete`,
// delete both files.
int finish_last(SyncState* state, const ErrorInfo* error, int do_delete) {
  report_line(message_text(kMsgReleasingResources));
  teardown_by_owner(state, do_delete);
  release_record(state);
  if (error->code != 0) {
    report_error(error);
    return -1;
  }
  report_line(message_text(kMsgSyncFinished));
  return 0;
}

}  // namespace

int sync_finish(SyncState* state) {
  const time_t start = sync_clock();
  ErrorInfo error = {0, 0};
  report_line(message_text(kMsgSyncFinishing));
  if (state->master_file == INVALID_HANDLE_VALUE) return finish_last(state, &error, 1);

  report_line(message_text(kMsgCheckingPartnerCanEnd));
  if (wait_until_outside_rendezvous(state, start, &error) != 0) {
    return finish_last(state, &error, 1);
  }

  report_line(message_text(kMsgCheckingPartnerLives));
  if (state->own_presence_byte == 0) return finish_last(state, &error, 1);  // never paired
  const int gone = take_master_byte(state->master_file, state->partner_presence_byte, &error);
  if (gone == 0) return finish_first(state, start);
  if (gone > 0) {
    unlock_master_byte(state->master_file, state->partner_presence_byte);
    return finish_last(state, &error, 1);
  }
  // Whether the partner lives is unknown: fail as a rendezvous does, and
  // delete nothing that a live partner may still use.
  return finish_last(state, &error, 0);
}
