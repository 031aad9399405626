// POSIX layer: events and waitable timers.
#include <chrono>

#include "platform/posix/threads.h"
#include "platform/posix/waits.h"

namespace zarn_posix {

std::mutex& wait_mutex() {
  static auto* m = new std::mutex();
  return *m;
}

std::condition_variable& wait_cv() {
  static auto* cv = new std::condition_variable();
  return *cv;
}

void TimerObject::update(Clock::time_point now) {
  if (!armed || now < due) return;
  signalled = true;
  if (period > Clock::duration::zero()) {
    due += period;
  } else {
    armed = false;
  }
}

void event_signal(Object* event) {
  if (event == nullptr || event->kind != Kind::kEvent) return;
  std::lock_guard<std::mutex> hold(wait_mutex());
  static_cast<EventObject*>(event)->signalled = true;
  wait_cv().notify_all();
}

}  // namespace zarn_posix

using namespace zarn_posix;

namespace {

// Named objects are shared between processes on Windows; the layer has none.
bool refuse_name(LPCSTR name) {
  if (name == nullptr) return false;
  SetLastError(ERROR_NOT_SUPPORTED);
  return true;
}

BOOL set_event_state(HANDLE event, bool state) {
  auto object = handle_get_as<EventObject>(event, Kind::kEvent);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(wait_mutex());
  object->signalled = state;
  if (state) wait_cv().notify_all();
  return TRUE;
}

// FILETIME units: 100 ns since 1601-01-01 UTC.
constexpr LONGLONG kUnixEpochAsFiletime = 116444736000000000LL;

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
  checkpoint();
  if (refuse_name(name)) return nullptr;
  return handle_insert(std::make_shared<EventObject>(manual_reset != FALSE, initial_state != FALSE));
}

BOOL SetEvent(HANDLE event) {
  checkpoint();
  return set_event_state(event, true);
}

BOOL ResetEvent(HANDLE event) {
  checkpoint();
  return set_event_state(event, false);
}

HANDLE CreateWaitableTimerA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, LPCSTR name) {
  checkpoint();
  if (refuse_name(name)) return nullptr;
  return handle_insert(std::make_shared<TimerObject>(manual_reset != FALSE));
}

// Completion routines (APCs) are not supported: the tool passes none.
BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due_time, LONG period,
                      PTIMERAPCROUTINE completion, LPVOID, BOOL) {
  checkpoint();
  auto object = handle_get_as<TimerObject>(timer, Kind::kTimer);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (due_time == nullptr || period < 0 || completion != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // How far from now, in 100 ns units; an absolute time is a wall-clock
  // instant.  Kept within a century so that nothing overflows.
  constexpr LONGLONG kCentury = 100LL * 365 * 24 * 3600 * 10000000;
  LONGLONG ticks = due_time->QuadPart;
  LONGLONG from_now;
  if (ticks < 0) {
    from_now = ticks < -kCentury ? kCentury : -ticks;
  } else {
    LONGLONG wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count() / 100 + kUnixEpochAsFiletime;
    from_now = ticks - wall;
    if (from_now > kCentury) from_now = kCentury;
    if (from_now < 0) from_now = 0;
  }
  Clock::time_point due =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(from_now * 100));
  std::lock_guard<std::mutex> hold(wait_mutex());
  object->signalled = false;
  object->armed = true;
  object->due = due;
  object->period = std::chrono::milliseconds(period);
  wait_cv().notify_all();
  return TRUE;
}
