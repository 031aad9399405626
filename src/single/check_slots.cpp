// The process-wide slots of the single-host tests and their guarded setters.
#include <string.h>

#include "base/process_end.h"
#include "fileops/check_name.h"
#include "fileops/fileops.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/slot_ops.h"

CheckFileSlot check_slots[2] = {
    {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, nullptr},
    {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, nullptr},
};
uint32_t interrupt_count = 0;
char partner_file_names[2][261];

void prepare_slot(int slot) {
  ResourceLockHold hold;
  CheckFileSlot& s = check_slots[slot];
  s.own_handle = INVALID_HANDLE_VALUE;
  s.partner_handle = INVALID_HANDLE_VALUE;
  memset(s.own_file_name, 0, sizeof s.own_file_name);
  s.sync_state = nullptr;
  memset(partner_file_names[slot], 0, sizeof partner_file_names[slot]);
}

void enter_test_frame() {
  enter_working_frame();
  SetConsoleCtrlHandler(single_ctrl_handler, TRUE);
}

void leave_test_frame() {
  SetConsoleCtrlHandler(single_ctrl_handler, FALSE);
  leave_working_frame();
}

void enter_slot_test(int slot) {
  prepare_slot(slot);
  enter_test_frame();
}

void leave_slot_test(int slot) {
  single_cleanup(slot);
  leave_test_frame();
}

void keep_in_check_slot(SyncState* state, void*) {
  ResourceLockHold hold;
  prepare_slot(state->role);
  check_slots[state->role].sync_state = state;
}

namespace {

// At most 260 characters of `name` into a zeroed name field of 261.
void copy_name(char (&field)[261], const char* name) {
  memset(field, 0, sizeof field);
  memcpy(field, name, strnlen(name, sizeof field - 1));
}

}  // namespace

void slot_set_name(int slot, const char* name) {
  ResourceLockHold hold;
  copy_name(check_slots[slot].own_file_name, name);
}

HANDLE announce_and_open(int msg, const CheckFileName& name, HANDLE* field, DWORD disposition) {
  report_message(msg, name.shown);
  if (name.error != 0) {
    SetLastError(name.error);
    return INVALID_HANDLE_VALUE;
  }
  return slot_open(field, name.path, disposition);
}

HANDLE open_own_check_file(const RunOptions* options, const char* folder, char name[261]) {
  CheckFileName check;
  name_check_file(options->mode, folder, 0, &check);
  memcpy(name, check.path, sizeof check.path);
  slot_set_name(0, check.path);
  // "The file will now be opened. (%s)"
  return announce_and_open(kMsgOpening, check, &check_slots[0].own_handle, OPEN_ALWAYS);
}

void slot_set_partner_name(int slot, const char* name) {
  ResourceLockHold hold;
  copy_name(partner_file_names[slot], name);
}

HANDLE slot_open(HANDLE* field, const char* name, DWORD disposition) {
  // Outside resource_lock: on a slow share an open takes long, and a console
  // handler must not wait behind it for the lock.  It waits for the open
  // instead, which ends with the handle in its slot.
  begin_file_call();
  HANDLE file = open_test_file(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               disposition);
  const DWORD error = GetLastError();
  {
    ResourceLockHold hold;
    *field = file;
    end_file_call();
  }
  SetLastError(error);
  return file;
}

void slot_close_handle(HANDLE* field) {
  const DWORD error = GetLastError();
  {
    ResourceLockHold hold;
    close_handle(field);
  }
  SetLastError(error);
}

void slot_set_sync_state(int slot, SyncState* state) {
  ResourceLockHold hold;
  check_slots[slot].sync_state = state;
}
