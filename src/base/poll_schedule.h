// The pauses between the looks of every wait that polls: the handshake's
// waits on the master file, the waits for overlapped requests and for files
// to go.
//
// A partner usually answers within milliseconds, so a wait looks again soon
// at first and then less and less often: 4, 8, 16, 32 and 64 ms, then every
// 100 ms for as long as it lasts.  A long wait costs the share what it
// always has, one look per 100 ms.  How often a party looks is not part of
// the lock-byte protocol: one that looks sooner is still a correct partner
// for one that looks every 100 ms.
#ifndef ZARN_BASE_POLL_SCHEDULE_H
#define ZARN_BASE_POLL_SCHEDULE_H

#include "platform/win32.h"

enum : DWORD { kFirstPollPauseMs = 4, kPollPauseMs = 100 };

// The first pause of a wait (poll_first_pause.cpp).  Alone in its file, so
// that a test build can link a partner that pauses 100 ms every time, as
// builds before the short first pauses did.
DWORD first_poll_pause_ms();

// The pauses of one wait, in order; every wait starts with a schedule of
// its own.
class PollSchedule {
 public:
  // Sleeps before the next look.
  void pause() {
    next_ms_ = next_ms_ == 0 ? first_poll_pause_ms() : next_ms_ * 2;
    if (next_ms_ > kPollPauseMs) next_ms_ = kPollPauseMs;
    Sleep(next_ms_);
  }

 private:
  DWORD next_ms_ = 0;  // the last pause; 0 before the first
};

#endif
