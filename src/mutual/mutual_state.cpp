// The mutual tests' record, clean-up, console control handler and frame.
#include "mutual/mutual_state.h"

#include <string.h>

#include <initializer_list>

#include "base/process_end.h"
#include "fileops/check_name.h"
#include "report/json_report.h"
#include "report/report.h"

MutualTestState mutual_state = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, {0}, nullptr};

namespace {

// The frame's way out; the role does not matter, one record serves both.
int cleanup_after_test(int32_t /*role*/) { return mutual_cleanup(0); }

// Deletes the file a name field names and clears the field, deleted or not:
// the next test uses the same names, and a name kept could make a later
// clean-up delete the next test's file.  The field is cleared once the
// deletion is announced as a file call, so that an interrupt before that
// still finds the name, and one after it waits for the deletion instead of
// repeating it.  Whether the file went.
DWORD delete_named_file(char* field, char (&name)[261]) {
  begin_file_call();
  {
    ResourceLockHold hold;
    memcpy(name, field, sizeof name);
    memset(field, 0, sizeof name);
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  if (name[0] != '\0') error = DeleteFileA(name) ? 0 : GetLastError();
  if (name[0] != '\0' && error != 0) note_left_behind(name);
  end_file_call();
  return error;
}

// A deletion refused while the partner still held the file is the
// partner's to make; a partner that ended on the way (killed) never makes
// it.  Once the closing handshake is over the partner holds nothing of this
// test any more, and cannot have made the next test's files (that needs this
// process at the next rendezvous): the file still there is tried once more.
void delete_refused_file(const char (&name)[261]) {
  begin_file_call();
  const bool went = DeleteFileA(name) != FALSE;
  end_file_call();
  if (went) report_message(kMsgDeleted, name);
}

}  // namespace

const PairedFrame kMutualFrame = {kModeDouble, {&mutual_state, &mutual_state},
                                  mutual_ctrl_handler, cleanup_after_test, nullptr};

int32_t mutual_script(int32_t test, int32_t target) {
  // -h: open 1, lock 2; -p: open 3, lock 4, deletion 5.
  return (target == kTargetShare ? 1 : 3) + test;
}

int mutual_cleanup(int interrupted) {
  if (interrupted) {
    ResourceLockHold hold;
    CheckFileSlot* const slots[] = {&mutual_state};
    interrupt_slots(slots, 1);
    return 0;
  }
  {
    ResourceLockHold hold;
    release_slot_handles(&mutual_state);
  }
  // Both processes delete both files; the deletion that succeeds is the one
  // reported, the other fails quietly (also while the partner still holds
  // the file open).  Printed outside resource_lock: a console that blocks the
  // printing thread must never block a console control handler.
  char refused[2][261] = {};
  int refusals = 0;
  for (char* field : {mutual_state.own_file_name, mutual_state.partner_file_name}) {
    char name[261];
    const DWORD error = delete_named_file(field, name);
    if (error == 0) {
      report_message(kMsgDeleted, name);
    } else if (error == ERROR_SHARING_VIOLATION) {
      memcpy(refused[refusals++], name, sizeof name);
    }
  }
  // sync_finish waits for the partner, so outside resource_lock: the record
  // stays in the state meanwhile, and an interrupt tears it down.
  finish_slot_sync(&mutual_state);
  for (int i = 0; i < refusals; ++i) delete_refused_file(refused[i]);
  return 0;
}

BOOL WINAPI mutual_ctrl_handler(DWORD /*control_type*/) {
  mutual_cleanup(1);
  return FALSE;  // the handlers registered before, and at last the system, end the process
}

bool open_own_mutual_file(const RunOptions* options, int32_t target, int32_t role) {
  CheckFileName own;
  name_check_file(kModeDouble, target_folder(options, target), role, &own);
  slot_set_name(mutual_state.own_file_name, own.path);
  if (announce_and_open(kMsgOpeningOwn, own, &mutual_state.own_handle, OPEN_ALWAYS) !=
      INVALID_HANDLE_VALUE) {
    return true;
  }
  report_open_failure(target);
  return false;
}

void name_partner_file(const RunOptions* options, int32_t target, int32_t role,
                       CheckFileName* name) {
  name_check_file(kModeDouble, target_folder(options, target), role ^ 1, name);
  slot_set_name(mutual_state.partner_file_name, name->path);
}

void report_open_failure(int32_t target) {
  report_failure(not_opened_code(target), GetLastError());
}
