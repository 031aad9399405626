// Command line, validation and the plans of the three operations.
#ifndef ZARN_DRIVER_DRIVER_H
#define ZARN_DRIVER_DRIVER_H

#include "base/run_options.h"

extern const char usage_text[];

int parse_command_line(int argc, char** argv, RunOptions* options);
int validate_options(RunOptions* options);

int run_single_environment_check(const RunOptions* options);
int run_mutual_environment_check(const RunOptions* options);
int run_userapl_plan(RunOptions* options);

// The process's one console control handler, registered for the rest of the
// run: every clean-up registered by the scopes that hold something
// (base/interrupts.h), then the JSON report; then the process ends as the
// event would end it.
void arm_interrupt_path();

int zarn_main(int argc, char** argv);

#endif
