// The shape every plan shares: an operation group holding check-target
// groups, each holding processing-type groups that wrap one test call.
#ifndef ZARN_DRIVER_PLAN_H
#define ZARN_DRIVER_PLAN_H

#include <stdint.h>

#include "base/run_options.h"

typedef int (*PlanTest)(const RunOptions* options, int32_t target);

// One processing-type group: its heading and the test it wraps.
struct PlanStep {
  int heading;
  PlanTest test;
};

// One check-target group: its heading, the CheckTarget its tests receive,
// and its steps in order.
struct PlanTarget {
  int heading;
  int32_t target;
  const PlanStep* steps;
  int step_count;
};

// Runs the steps of one check target under its group; a step runs only while
// no earlier one was aborted.  Returns the group's result.
int run_check_target(const RunOptions* options, const PlanTarget& target);

// Runs the check targets under the operation group; a target runs only while
// no earlier one was aborted.  Returns the operation's result.
int run_operation(const RunOptions* options, int heading, const PlanTarget* targets, int target_count);

#endif
