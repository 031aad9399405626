// The tests of the mutual environment check, in the order of its plan.  Both
// processes run each test at the same time, stepping together through a
// synchronisation in the -h folder.
#ifndef ZARN_MUTUAL_MUTUAL_CHECK_H
#define ZARN_MUTUAL_MUTUAL_CHECK_H

#include <stdint.h>

#include "base/run_options.h"

int mutual_open_tests(const RunOptions* options, int32_t target);
int mutual_lock_tests(const RunOptions* options, int32_t target);
int mutual_deletion_test(const RunOptions* options);

#endif
