// The frame of a test between two parties.
#include "paired/paired_test.h"

#include "base/interrupts.h"
#include "base/process_end.h"
#include "report/report.h"
#include "sync/sync.h"

namespace {

// The set-up's keeper: the record goes into the held-files record of its
// role in the same hold of resource_lock that takes it out of the set-up's
// table, so that a console handler finds it in one place or the other.
void keep_in_slot(SyncState* state, const void* context) {
  const auto* frame = static_cast<const PairedFrame*>(context);
  CheckFileSlot* slot = frame->slots[state->role];
  ResourceLockHold hold;
  prepare_slot(slot);
  slot->sync_state = state;
}

}  // namespace

SyncState* enter_paired_test(const RunOptions* options, const PairedFrame& frame,
                             int32_t script) {
  report_line(message_text(kMsgSyncInitializing));
  // The handler is registered before the set-up hands the record over.
  enter_working_frame();
  register_interrupt_cleanup(frame.ctrl_handler);
  SyncState* sync = sync_setup(frame.sync_mode, options->share_path, options->timeout_sec,
                               keep_in_slot, &frame, script);
  if (sync == nullptr) {
    unregister_interrupt_cleanup(frame.ctrl_handler);
    leave_working_frame();
  }
  return sync;
}

void leave_paired_test(const PairedFrame& frame, int32_t role) {
  frame.cleanup(role);  // ends the synchronisation: the record is not used after this
  unregister_interrupt_cleanup(frame.ctrl_handler);
  leave_working_frame();
}
