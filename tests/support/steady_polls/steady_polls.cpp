// The first pause of a test build in which some threads poll every 100 ms
// (steady_polls.h).
#include "support/steady_polls/steady_polls.h"

#include "base/poll_schedule.h"

thread_local bool this_thread_polls_steadily = false;

DWORD first_poll_pause_ms() { return this_thread_polls_steadily ? kPollPauseMs : kFirstPollPauseMs; }
