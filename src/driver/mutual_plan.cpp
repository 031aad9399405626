// The plan of the mutual environment check: the single check as its first
// phase, then the mutual tests with the partner process.
#include "driver/driver.h"
#include "driver/plan.h"
#include "mutual/mutual_check.h"
#include "report/catalogue.h"

namespace {

int open_step(const RunOptions* options, int32_t target) { return mutual_open_tests(options, target); }
int lock_step(const RunOptions* options, int32_t target) { return mutual_lock_tests(options, target); }
int deletion_step(const RunOptions* options, int32_t) { return mutual_deletion_test(options); }

const PlanStep kMutualShareSteps[] = {
    {kGroupOpening, open_step},
    {kGroupLocking, lock_step},
};
// No read and write test between two hosts.
const PlanStep kMutualPathSteps[] = {
    {kGroupOpening, open_step},
    {kGroupLocking, lock_step},
    {kGroupDeletion, deletion_step},
};
const PlanTarget kMutualTargets[] = {
    {kGroupSharePath, kTargetShare, kMutualShareSteps, 2},
    {kGroupTargetPath, kTargetPath, kMutualPathSteps, 3},
};

}  // namespace

int run_mutual_environment_check(const RunOptions* options) {
  // The single phase names its check files by host and process, the mutual
  // phase by role alone, where both hosts meet.
  const int single = run_single_environment_check(options);
  if (single == kResultAborted) return kResultAborted;  // no line of the mutual phase
  // Group 89 reports the mutual phase alone; the exit status takes both.
  const int mutual = run_operation(options, kGroupMutualCheck, kMutualTargets, 2);
  return single == kResultNg ? kResultNg : mutual;
}
