// The tests of the single environment check, in the order of its plan.
#ifndef ZARN_SINGLE_SINGLE_CHECK_H
#define ZARN_SINGLE_SINGLE_CHECK_H

#include <stdint.h>

#include "base/run_options.h"

int single_open_tests(const RunOptions* options, int32_t target);
int single_read_write_test(const RunOptions* options);
int single_lock_tests(const RunOptions* options, int32_t target);
int single_deletion_test(const RunOptions* options);

#endif
