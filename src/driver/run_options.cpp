// The process-wide lock that every clean-up shares.
#include "driver/run_options.h"

CRITICAL_SECTION resource_lock;
