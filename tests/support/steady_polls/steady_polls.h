// Test support: a partner that polls as builds before the short first pauses
// did.  steady_polls.cpp is linked into a test binary in place of the tool's
// first pause (src/base/poll_first_pause.cpp): a thread that asks for it
// pauses 100 ms before every look of every wait; the others keep the tool's
// schedule.
#ifndef ZARN_TESTS_SUPPORT_STEADY_POLLS_H
#define ZARN_TESTS_SUPPORT_STEADY_POLLS_H

extern thread_local bool this_thread_polls_steadily;

// This thread polls every 100 ms while the value lives, when `steadily`.
struct SteadyPolls {
  explicit SteadyPolls(bool steadily) { this_thread_polls_steadily = steadily; }
  ~SteadyPolls() { this_thread_polls_steadily = false; }
  SteadyPolls(const SteadyPolls&) = delete;
  SteadyPolls& operator=(const SteadyPolls&) = delete;
};

#endif
