// The first pause of every wait; the schedule doubles it up to 100 ms
// (poll_schedule.h).
#include "base/poll_schedule.h"

DWORD first_poll_pause_ms() { return kFirstPollPauseMs; }
