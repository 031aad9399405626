// Tearing down the set-ups that a console event interrupts.
#include "base/process_end.h"
#include "sync/sync.h"

BOOL WINAPI sync_console_handler(DWORD /*control_type*/) {
  EnterCriticalSection(&resource_lock);
  // Every working thread, the set-ups' among them, stops before anything is
  // torn down: no thread touches a record once it is torn down, and none
  // meets a partner torn down under it.
  stop_working_threads();
  for (SyncSetupSlot& slot : sync_setup_slots) {
    if (slot.state == nullptr) continue;
    sync_teardown(slot.state, 1);  // torn down, never released: its thread still points at it
    slot.state = nullptr;
  }
  LeaveCriticalSection(&resource_lock);
  return FALSE;  // the handlers registered before, and at last the system, end the process
}
