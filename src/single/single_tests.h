// The tests of the single environment check.
#ifndef ZARN_SINGLE_SINGLE_TESTS_H
#define ZARN_SINGLE_SINGLE_TESTS_H

#include "base/run_options.h"
#include "platform/win32.h"

int single_open_tests(const RunOptions* options, int32_t target);
int single_read_write_test(const RunOptions* options);
int single_lock_tests(const RunOptions* options, int32_t target);
int paired_lock_sequence(const RunOptions* options, int32_t target);
int single_deletion_test(const RunOptions* options);

// What the partner thread of the lock test is started with; it copies both
// fields when it starts.
struct PartnerThreadParams {
  const RunOptions* options;
  int32_t target;
};
// Runs the partner's side of paired_lock_sequence; its exit code is the
// sequence's result, which nobody reads.
DWORD WINAPI partner_thread_proc(LPVOID param);

#endif
