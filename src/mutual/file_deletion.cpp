// The mutual deletion test: each process deletes the check file that the
// other process created and closed.
#include "base/scope_guard.h"
#include "mutual/mutual_check.h"
#include "mutual/mutual_state.h"
#include "report/report.h"
#include "sync/sync.h"

int mutual_deletion_test(const RunOptions* options) {
  SyncState* sync = enter_paired_test(options, kMutualFrame,
                                     mutual_script(kMutualDeletionTest, kTargetPath));
  if (sync == nullptr) return kResultAborted;
  const int32_t role = sync->role;
  ScopeGuard end([role] { leave_paired_test(kMutualFrame, role); });

  if (!open_own_mutual_file(options, kTargetPath, role)) return kResultNg;
  if (sync_step(sync) != 0) return kResultAborted;
  report_line(message_text(kMsgClosingOwn));
  slot_close_handle(&mutual_state.own_handle);  // the file stays
  if (sync_step(sync) != 0) return kResultAborted;  // both files exist, neither is open

  int result = kResultOk;
  {
    GroupGuard g(kGroupDeletePartners);
    report_line(message_text(kMsgDeletingPartners));
    CheckFileName partner;
    name_partner_file(options, kTargetPath, role, &partner);
    if (!DeleteFileA(partner.path)) {
      report_failure(kErrDeleteFailed, GetLastError());
      g.result = result = kResultNg;
    }
  }
  // Neither process cleans up before both have tried their deletion; the
  // clean-up's attempt on the partner's name then fails quietly.
  return sync_step(sync) == 0 ? result : kResultAborted;
}
