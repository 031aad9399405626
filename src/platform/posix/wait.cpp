// POSIX layer: WaitForSingleObject and Sleep, both safe points for suspension.
#include <errno.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <optional>

#include "platform/posix/threads.h"
#include "platform/posix/waits.h"

using namespace zarn_posix;

namespace {

// Takes the object if it is signalled (resetting what a satisfied wait
// resets); otherwise the instant it may become signalled by itself.
bool try_take(Object* object, Clock::time_point now, std::optional<Clock::time_point>* wake) {
  switch (object->kind) {
    case Kind::kEvent: {
      auto* event = static_cast<EventObject*>(object);
      if (!event->signalled) return false;
      if (!event->manual_reset) event->signalled = false;
      return true;
    }
    case Kind::kTimer: {
      auto* timer = static_cast<TimerObject*>(object);
      timer->update(now);
      if (timer->signalled) {
        if (!timer->manual_reset) timer->signalled = false;
        return true;
      }
      if (timer->armed) *wake = timer->due;
      return false;
    }
    case Kind::kThread:
      return static_cast<ThreadObject*>(object)->record->finished.load();
    default:
      return false;
  }
}

}  // namespace

// File handles are not waitable here (the tool waits on events instead).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  checkpoint();
  std::shared_ptr<Object> object = handle_get(handle);
  if (!object || object->kind == Kind::kFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  SafePoint safe_point;
  DWORD result;
  {
    std::unique_lock<std::mutex> lock(wait_mutex());
    Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (milliseconds != INFINITE) deadline = start + std::chrono::milliseconds(milliseconds);
    for (;;) {
      Clock::time_point now = Clock::now();
      std::optional<Clock::time_point> wake;
      if (try_take(object.get(), now, &wake)) {
        result = WAIT_OBJECT_0;
        break;
      }
      if (deadline && now >= *deadline) {
        result = WAIT_TIMEOUT;
        break;
      }
      if (deadline && (!wake || *deadline < *wake)) wake = deadline;
      if (wake) {
        wait_cv().wait_until(lock, *wake);
      } else {
        wait_cv().wait(lock);
      }
    }
  }
  safe_point.leave();
  return result;
}

void Sleep(DWORD milliseconds) {
  checkpoint();
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  SafePoint safe_point;
  if (milliseconds == INFINITE) {
    for (;;) sleep(3600);  // never ends: a thread in it can only be suspended
  }
  struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  safe_point.leave();
}
