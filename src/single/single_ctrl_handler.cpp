// The console control handler of the single-host tests.  Each registration
// is called once per event; the count of calls so far selects the slot, so
// the two registrations of the paired lock sequence clean slot 0, then 1.
#include "single/check_slots.h"
#include "single/slot_ops.h"

BOOL WINAPI single_ctrl_handler(DWORD /*control_type*/) {
  ResourceLockHold hold;
  if (interrupt_count >= 2) return FALSE;
  CheckFileSlot& slot = check_slots[interrupt_count];
  release_slot_handles(&slot);
  if (slot.sync_state != nullptr) {
    // The other participant is not waited for; the process is about to end.
    sync_teardown(slot.sync_state, 1);
    slot.sync_state = nullptr;
  }
  DeletedFiles deleted;  // not reported: the handler's thread prints nothing
  delete_slot_files(&deleted);
  ++interrupt_count;
  return FALSE;
}
