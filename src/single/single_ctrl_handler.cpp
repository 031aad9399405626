// The console control handler of the single-host tests.  It is registered
// once by every single-host test and once by each participant of the paired
// lock sequence, and called once per registration.
//
// Every call cleans both slots, not only the one its count would select: a
// participant can register while the other has not yet (it is still pairing
// up, or has already left), and then a lone call must clean the slot of the
// participant that did register, whichever role it drew.  Cleaning is
// idempotent, so a second call finds nothing left; a third does nothing.
#include "base/process_end.h"
#include "single/check_slots.h"
#include "single/slot_ops.h"

BOOL WINAPI single_ctrl_handler(DWORD /*control_type*/) {
  ResourceLockHold hold;
  if (interrupt_count >= 2) return FALSE;
  // The tests' threads stop before anything they hold is released: none of
  // them reports a handle closed or a partner torn down under it.
  stop_working_threads();
  for (CheckFileSlot& slot : check_slots) release_slot_handles(&slot);
  // The check files go while the synchronisation is torn down: on a slow
  // share each deletion takes a round trip.  Not reported: the handler's
  // thread prints nothing.
  DeletionBatch batch;
  start_slot_deletions(&batch);
  for (CheckFileSlot& slot : check_slots) {
    if (slot.sync_state != nullptr) {
      // The other participant is not waited for; the process is about to end.
      sync_teardown(slot.sync_state, 1);
      slot.sync_state = nullptr;
    }
  }
  finish_slot_deletions(&batch);
  ++interrupt_count;
  return FALSE;
}
