// The plan of the single environment check: its groups and tests, in order.
#include "driver/driver.h"
#include "driver/plan.h"
#include "single/single_tests.h"

namespace {

// Catalogue headings of the groups.
const int kHeadingShareTarget = 20;
const int kHeadingPathTarget = 21;
const int kHeadingLocking = 71;
const int kHeadingOpen = 72;
const int kHeadingDeletion = 73;
const int kHeadingReadWrite = 74;
const int kHeadingSingleOperation = 90;

int open_step(const RunOptions* options, int32_t target) { return single_open_tests(options, target); }
int lock_step(const RunOptions* options, int32_t target) { return single_lock_tests(options, target); }
int read_write_step(const RunOptions* options, int32_t) { return single_read_write_test(options); }
int deletion_step(const RunOptions* options, int32_t) { return single_deletion_test(options); }

const PlanStep kSingleShareSteps[] = {
    {kHeadingOpen, open_step},
    {kHeadingLocking, lock_step},
};
const PlanStep kSinglePathSteps[] = {
    {kHeadingOpen, open_step},
    {kHeadingReadWrite, read_write_step},
    {kHeadingLocking, lock_step},
    {kHeadingDeletion, deletion_step},
};
const PlanTarget kSingleTargets[] = {
    {kHeadingShareTarget, kTargetShare, kSingleShareSteps, 2},
    {kHeadingPathTarget, kTargetPath, kSinglePathSteps, 4},
};

}  // namespace

int run_single_environment_check(RunOptions* options) {
  return run_operation(options, kHeadingSingleOperation, kSingleTargets, 2);
}
