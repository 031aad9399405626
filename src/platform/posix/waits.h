// POSIX layer, internal: events and waitable timers, and the one lock and
// condition under which every waitable state changes.
//
// One process-wide mutex and condition variable serve all events, timers and
// thread ends: the tool waits on a handful of objects, so a broadcast on any
// change costs nothing worth a finer scheme.
#ifndef ZARN_PLATFORM_POSIX_WAITS_H
#define ZARN_PLATFORM_POSIX_WAITS_H

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/posix/handles.h"

namespace zarn_posix {

using Clock = std::chrono::steady_clock;

std::mutex& wait_mutex();
std::condition_variable& wait_cv();

struct EventObject : Object {
  EventObject(bool manual, bool initial) : Object(Kind::kEvent), manual_reset(manual), signalled(initial) {}
  const bool manual_reset;
  bool signalled;  // under wait_mutex
};

struct TimerObject : Object {
  explicit TimerObject(bool manual) : Object(Kind::kTimer), manual_reset(manual) {}
  const bool manual_reset;
  // Under wait_mutex.
  bool signalled = false;
  bool armed = false;
  Clock::time_point due;
  Clock::duration period{};
  // Turns an armed timer whose due time has passed into a signalled one.
  void update(Clock::time_point now);
};

}  // namespace zarn_posix

#endif
