// Where every single-host test keeps what it holds, so that its clean-up and
// the console control handler can release it on every way out.
#ifndef ZARN_SINGLE_CHECK_SLOTS_H
#define ZARN_SINGLE_CHECK_SLOTS_H

#include <stdint.h>

#include "platform/win32.h"
#include "sync/sync.h"

struct CheckFileSlot {
  HANDLE own_handle;
  HANDLE partner_handle;
  char own_file_name[261];
  SyncState* sync_state;
};

extern CheckFileSlot check_slots[2];
extern uint32_t interrupt_count;

void prepare_slot(int slot);
int single_cleanup(int slot);
BOOL WINAPI single_ctrl_handler(DWORD control_type);

#endif
