// The tests of the single environment check.
#ifndef ZARN_SINGLE_SINGLE_TESTS_H
#define ZARN_SINGLE_SINGLE_TESTS_H

#include "driver/run_options.h"

int single_open_tests(const RunOptions* options, int32_t target);
int single_read_write_test(const RunOptions* options);
int single_lock_tests(const RunOptions* options, int32_t target);
int paired_lock_sequence(const RunOptions* options, int32_t target);
int single_deletion_test(const RunOptions* options);

#endif
