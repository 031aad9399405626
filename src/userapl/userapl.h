// The external application linkage check: the tool and a person at another
// program take turns on one file of the share, the file to be checked (-f).
#ifndef ZARN_USERAPL_USERAPL_H
#define ZARN_USERAPL_USERAPL_H

#include "base/run_options.h"

// Leads the person through the five processing groups.  0 when all passed,
// 1 when one was NG, -1 when a wait for the person failed (the later groups
// do not run).
int run_external_application_check(const RunOptions* options);

#endif
