// POSIX layer, internal: thread records and cooperative suspension.
//
// SuspendThread cannot stop a POSIX thread at an arbitrary instruction
// without risking a lock held forever, so suspension is cooperative: it marks
// the thread, and the thread parks (blocks until resumed)
//   - at its next call into the layer (checkpoint() at the entry of every
//     exported function), or
//   - when the wait it is in ends, if it is inside Sleep, WaitForSingleObject,
//     a blocked EnterCriticalSection or a waiting GetOverlappedResult (safe
//     points: a thread in one counts as stopped the moment it is marked).
// A parked thread holds no layer lock and never returns into the tool's code
// until it is resumed.  SuspendThread returns once the thread has parked or
// sits in a safe point; it waits at most kSuspendWaitMs for that, then
// returns anyway with the mark in place (as on Windows, where SuspendThread
// does not wait for the target to stop): the thread parks at its next call.
//
// SetLastError and GetLastError are no checkpoints: the layer calls them
// internally, possibly while holding its own locks.
#ifndef ZARN_PLATFORM_POSIX_THREADS_H
#define ZARN_PLATFORM_POSIX_THREADS_H

#include <atomic>
#include <memory>

#include "platform/posix/handles.h"

namespace zarn_posix {

constexpr int kSuspendWaitMs = 2000;

struct ThreadRecord {
  explicit ThreadRecord(DWORD thread_id) : id(thread_id) {}
  const DWORD id;
  std::atomic<int> suspend_count{0};  // changed under the suspension mutex
  bool parked = false;                // under the suspension mutex
  bool in_safe_point = false;         // under the suspension mutex
  std::atomic<bool> finished{false};  // set under wait_mutex, with exit_code
  DWORD exit_code = STILL_ACTIVE;     // under wait_mutex
};

struct ThreadObject : Object {
  explicit ThreadObject(std::shared_ptr<ThreadRecord> r) : Object(Kind::kThread), record(std::move(r)) {}
  const std::shared_ptr<ThreadRecord> record;
};

// A wait that suspension may interrupt (see above).  Construct it before the
// wait; end it (leave(), or the destructor) with no layer lock held.
class SafePoint {
 public:
  SafePoint();
  ~SafePoint() { leave(); }
  SafePoint(const SafePoint&) = delete;
  SafePoint& operator=(const SafePoint&) = delete;
  // Ends the safe point; parks first if the thread was marked meanwhile.
  void leave();
  // Ends the safe point only when the thread is not marked; returns false
  // (still in the safe point) when it is, so that the caller can drop what it
  // just acquired before leave() parks.
  bool leave_unless_marked();

 private:
  ThreadRecord* record_;
};

// Starts the console signal thread once (console.cpp); CreateThread calls it
// so that the console signals are blocked before any thread of the layer runs.
void console_start();

}  // namespace zarn_posix

#endif
