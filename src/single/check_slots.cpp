// The process-wide slots of the single-host tests and their guarded setters.
#include <string.h>

#include "fileops/fileops.h"
#include "single/check_slots.h"
#include "single/slot_ops.h"

CheckFileSlot check_slots[2] = {
    {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, nullptr},
    {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, {0}, nullptr},
};
uint32_t interrupt_count = 0;

void prepare_slot(int slot) {
  ResourceLockHold hold;
  CheckFileSlot& s = check_slots[slot];
  s.own_handle = INVALID_HANDLE_VALUE;
  s.partner_handle = INVALID_HANDLE_VALUE;
  memset(s.own_file_name, 0, sizeof s.own_file_name);
  s.sync_state = nullptr;
}

void slot_set_name(int slot, const char* name) {
  ResourceLockHold hold;
  char* field = check_slots[slot].own_file_name;
  memset(field, 0, sizeof check_slots[slot].own_file_name);
  strncpy(field, name, sizeof check_slots[slot].own_file_name - 1);
}

void slot_set_handle(HANDLE* field, HANDLE value) {
  const DWORD error = GetLastError();
  {
    ResourceLockHold hold;
    *field = value;
  }
  SetLastError(error);
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
