// The mutual open test: each process creates its own check file and keeps it
// open, then opens the one the other process created.
#include "base/scope_guard.h"
#include "mutual/mutual_check.h"
#include "mutual/mutual_state.h"
#include "report/report.h"
#include "sync/sync.h"

int mutual_open_tests(const RunOptions* options, int32_t target) {
  if (target != kTargetShare && target != kTargetPath) return kResultAborted;
  SyncState* sync = enter_paired_test(options, kMutualFrame, mutual_script(kMutualOpenTest, target));
  if (sync == nullptr) return kResultAborted;
  const int32_t role = sync->role;
  ScopeGuard end([role] { leave_paired_test(kMutualFrame, role); });

  // Without its own file this process does not meet the partner: the
  // partner's next synchronisation point fails.
  if (!open_own_mutual_file(options, target, role)) return kResultNg;
  if (sync_step(sync) != 0) return kResultAborted;  // both own files are open now
  int result = kResultOk;
  {
    GroupGuard g(kGroupOpenPartners);
    CheckFileName partner;
    name_partner_file(options, target, role, &partner);
    // The partner holds its file open meanwhile, sharing reading and writing.
    if (announce_and_open(kMsgOpeningPartners, partner, &mutual_state.partner_handle,
                          OPEN_ALWAYS) == INVALID_HANDLE_VALUE) {
      report_open_failure(target);
      g.result = result = kResultNg;
    }
  }
  // Neither process cleans up before both have tried their open.
  return sync_step(sync) == 0 ? result : kResultAborted;
}
