// Tearing down the set-ups that a console event interrupts.
#include "driver/run_options.h"
#include "sync/sync.h"

BOOL WINAPI sync_console_handler(DWORD /*control_type*/) {
  EnterCriticalSection(&resource_lock);
  for (SyncSetupSlot& slot : sync_setup_slots) {
    // An entry keeps its thread id after its set-up ended; that thread may
    // have ended, or be doing other work under its caller's own handler.
    // Only a thread whose record is still under set-up is stopped, so that it
    // never touches the record again once it is torn down.
    if (slot.thread_id != 0 && slot.state != nullptr && slot.thread_id != GetCurrentThreadId()) {
      HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, slot.thread_id);
      if (thread != nullptr) {
        SuspendThread(thread);
        CloseHandle(thread);
      }
    }
    slot.thread_id = 0;
  }
  for (SyncSetupSlot& slot : sync_setup_slots) {
    if (slot.state == nullptr) continue;
    sync_teardown(slot.state, 1);  // torn down, never released: its thread still points at it
    slot.state = nullptr;
  }
  LeaveCriticalSection(&resource_lock);
  return FALSE;  // the handlers registered before, and at last the system, end the process
}
