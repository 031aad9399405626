// The machinery of every plan: groups around tests, results combined, the
// rest of a group skipped after an abort.
#include "driver/driver.h"
#include "driver/plan.h"
#include "report/report.h"

int run_check_target(const RunOptions* options, const PlanTarget& target) {
  GroupGuard group(target.heading);
  for (int i = 0; i < target.step_count && group.result != kResultAborted; ++i) {
    GroupGuard step(target.steps[i].heading);
    step.result = target.steps[i].test(options, target.target);
    group.result = combine_results(group.result, step.result);
  }
  return group.result;
}

int run_operation(const RunOptions* options, int heading, const PlanTarget* targets, int target_count) {
  GroupGuard operation(heading);
  for (int i = 0; i < target_count && operation.result != kResultAborted; ++i) {
    operation.result = combine_results(operation.result, run_check_target(options, targets[i]));
  }
  return operation.result;
}
