// The plan of the single environment check: its groups and tests, in order.
#include "driver/driver.h"
#include "driver/plan.h"
#include "report/catalogue.h"
#include "single/single_check.h"

namespace {

int open_step(const RunOptions* options, int32_t target) { return single_open_tests(options, target); }
int lock_step(const RunOptions* options, int32_t target) { return single_lock_tests(options, target); }
int read_write_step(const RunOptions* options, int32_t) { return single_read_write_test(options); }
int deletion_step(const RunOptions* options, int32_t) { return single_deletion_test(options); }

const PlanStep kSingleShareSteps[] = {
    {kGroupOpening, open_step},
    {kGroupLocking, lock_step},
};
const PlanStep kSinglePathSteps[] = {
    {kGroupOpening, open_step},
    {kGroupReadWrite, read_write_step},
    {kGroupLocking, lock_step},
    {kGroupDeletion, deletion_step},
};
const PlanTarget kSingleTargets[] = {
    {kGroupSharePath, kTargetShare, kSingleShareSteps, 2},
    {kGroupTargetPath, kTargetPath, kSinglePathSteps, 4},
};

}  // namespace

int run_single_environment_check(const RunOptions* options) {
  return run_operation(options, kGroupSingleCheck, kSingleTargets, 2);
}
