// Where every single-host test keeps what it holds (check_slots), the frame
// that every one of them runs in, and the clean-up and console control
// handler that release it on every way out.
#ifndef ZARN_SINGLE_CHECK_SLOTS_H
#define ZARN_SINGLE_CHECK_SLOTS_H

#include <stdint.h>

#include "base/run_options.h"
#include "paired/held_files.h"
#include "platform/win32.h"

// Slot 0 serves every single-host test; the paired lock sequence gives
// each participant the slot of its role.
extern CheckFileSlot check_slots[2];
extern uint32_t interrupt_count;

int single_cleanup(int slot);
BOOL WINAPI single_ctrl_handler(DWORD control_type);

// The frame of the tests that work alone on slot 0's check file: the slot
// prepared, the thread a working thread and the console handler registered
// on the way in; on every way out, single_cleanup(0) and the rest undone.
void enter_slot_test();
void leave_slot_test();
// The opening of those tests, for check file 0 of `folder`: names it into
// slot 0 and `name`, prints "The file will now be opened.", and opens it
// (OPEN_ALWAYS) into own_handle.  INVALID_HANDLE_VALUE with the reason in
// the last error.
HANDLE open_own_check_file(const char* folder, char name[261]);

#endif
