// The slots of the single-host tests, their frame, their clean-up and the
// console control handler.
#include "single/check_slots.h"

#include <string.h>

#include "base/interrupts.h"
#include "base/process_end.h"
#include "fileops/check_name.h"
#include "fileops/fileops.h"
#include "report/json_report.h"
#include "report/report.h"

CheckFileSlot check_slots[2] = {
    {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, {0}, nullptr},
    {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, {0}, nullptr},
};
uint32_t interrupt_count = 0;

void enter_slot_test() {
  prepare_slot(&check_slots[0]);
  enter_working_frame();
  register_interrupt_cleanup(single_ctrl_handler);
}

void leave_slot_test() {
  single_cleanup(0);
  unregister_interrupt_cleanup(single_ctrl_handler);
  leave_working_frame();
}

HANDLE open_own_check_file(const char* folder, char name[261]) {
  CheckFileName check;
  name_check_file(kModeSingle, folder, 0, &check);
  memcpy(name, check.path, sizeof check.path);
  slot_set_name(check_slots[0].own_file_name, check.path);
  return announce_and_open(kMsgOpening, check, &check_slots[0].own_handle, OPEN_ALWAYS);
}

namespace {

// What a deletion pass did, in slot order: the files it deleted (message 11)
// and those it failed to delete (error 23 and the reason), each file once.
// They are printed after resource_lock is left: a console that blocks the
// printing thread must never block a console control handler.
struct DeletedFiles {
  int count;
  char names[4][261];
  DWORD errors[4];  // 0: deleted
};

bool went_in_this_pass(const char* name, const DeletedFiles* deleted) {
  for (int i = 0; i < deleted->count; ++i) {
    if (deleted->errors[i] == 0 && strcmp(deleted->names[i], name) == 0) return true;
  }
  return false;
}

// A file tried twice in one pass (own name of one slot, partner name of the
// other) keeps its last outcome.
void note_deletion(DeletedFiles* deleted, const char* name, DWORD error) {
  for (int i = 0; i < deleted->count; ++i) {
    if (strcmp(deleted->names[i], name) == 0) {
      deleted->errors[i] = error;
      return;
    }
  }
  if (deleted->count == 4) return;
  memcpy(deleted->names[deleted->count], name, 261);
  deleted->errors[deleted->count++] = error;
}

// Deletes the file that `field` names; true when it went.  The field is
// cleared when the file went, or when `gone_is_done` and it no longer exists,
// unless it names another file by then.  A file that went earlier in this
// pass is not deleted again: another participant's pass may be deleting it
// at the same moment, and Windows lets both deletions succeed.  A file that
// is already gone (a test deleted it, or never made it) leaves nothing
// behind; any other failure is noted, as the file stays.
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
  const DWORD error = went ? 0 : GetLastError();
  const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  if (!went) note_left_behind(name);
  {
    ResourceLockHold hold;
    if ((went || (gone_is_done && gone)) && strcmp(field, name) == 0) memset(field, 0, 261);
    end_file_call();
  }
  if (went || !gone) note_deletion(deleted, name, error);
  return went;
}

// Deletes the files named in both slots, slot 0 first, clearing each name
// that went; a name whose deletion fails stays for the next pass.  Then the
// partner file names, cleared also when their file is already gone.  The
// caller does not hold resource_lock: each deletion, slow on a slow share,
// is made outside it.
void delete_slot_files(DeletedFiles* deleted) {
  deleted->count = 0;
  for (CheckFileSlot& slot : check_slots) delete_named(slot.own_file_name, false, deleted);
  for (CheckFileSlot& slot : check_slots) delete_named(slot.partner_file_name, true, deleted);
}

}  // namespace

int single_cleanup(int slot) {
  CheckFileSlot& s = check_slots[slot];
  {
    ResourceLockHold hold;
    release_slot_handles(&s);
  }
  finish_slot_sync(&s);
  DeletedFiles deleted;
  delete_slot_files(&deleted);
  for (int i = 0; i < deleted.count; ++i) {
    if (deleted.errors[i] == 0) {
      report_message(kMsgDeleted, deleted.names[i]);
    } else {
      const ErrorInfo error{kErrDeleteFailed, static_cast<int32_t>(deleted.errors[i])};
      report_error(&error);
    }
  }
  return 0;
}

// Registered once by every single-host test and once by each participant of
// the paired lock sequence, and called once per registration.
//
// Every call cleans both slots, not only the one its count would select: a
// participant can register while the other has not yet (it is still pairing
// up, or has already left), and then a lone call must clean the slot of the
// participant that did register, whichever role it drew.  Cleaning is
// idempotent, so a second call finds nothing left; a third does nothing.
BOOL WINAPI single_ctrl_handler(DWORD /*control_type*/) {
  ResourceLockHold hold;
  if (interrupt_count >= 2) return FALSE;
  CheckFileSlot* const slots[] = {&check_slots[0], &check_slots[1]};
  interrupt_slots(slots, 2);
  ++interrupt_count;
  return FALSE;
}
