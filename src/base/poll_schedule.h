// The pauses between the looks of every wait that polls: the handshake's
// waits on the master file, the waits for overlapped requests and for files
// to go, the linkage check's watch on its signal file.
//
// A partner usually answers within milliseconds, so a wait looks again soon
// at first and then less and less often: 4, 8, 16, 32 and 64 ms, then every
// 100 ms for as long as it lasts.  A long wait costs the share what it
// always has, one look per 100 ms: the short pauses are paid back by pauses
// of 110 ms until the wait has looked no more than once per 100 ms since it
// began (about 5 s), then it pauses 100 ms.  How often a party looks is not
// part of the lock-byte protocol: one that looks sooner is still a correct
// partner for one that looks every 100 ms.
#ifndef ZARN_BASE_POLL_SCHEDULE_H
#define ZARN_BASE_POLL_SCHEDULE_H

#include <stdint.h>

#include "platform/win32.h"

enum : DWORD { kFirstPollPauseMs = 4, kPollPauseMs = 100, kPayBackPauseMs = 110 };

// The first pause of a wait (poll_first_pause.cpp).  Alone in its file, so
// that a test build can link a partner that pauses 100 ms every time, as
// builds before the short first pauses did.
DWORD first_poll_pause_ms();

// The pauses of one wait, in order; every wait starts with a schedule of
// its own.
class PollSchedule {
 public:
  // The pause before the next look, for a wait that pauses in a wait of
  // its own (on an event that ends it early, say).
  DWORD next_pause_ms() {
    DWORD pause = kPollPauseMs;
    if (pauses_ == 0) {
      pause = first_poll_pause_ms();
      paying_back_ = pause < kPollPauseMs;
    } else if (last_ms_ < kPollPauseMs) {
      pause = last_ms_ * 2 < kPollPauseMs ? last_ms_ * 2 : kPollPauseMs;
    } else if (paying_back_) {
      // pauses_ + 1 looks so far, each owed 100 ms of the wait
      paying_back_ = paused_ms_ < (pauses_ + 1) * kPollPauseMs;
      if (paying_back_) pause = kPayBackPauseMs;
    }
    ++pauses_;
    paused_ms_ += pause;
    last_ms_ = pause;
    return pause;
  }

  // Sleeps before the next look.
  void pause() { Sleep(next_pause_ms()); }

 private:
  uint64_t pauses_ = 0;
  uint64_t paused_ms_ = 0;  // the pauses so far, together
  DWORD last_ms_ = 0;
  bool paying_back_ = false;  // short pauses taken and not yet paid back
};

#endif
