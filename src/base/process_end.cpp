// Working threads, their file calls and their stop at the end of an
// interrupted run.  Everything here is read and written under resource_lock,
// except the flag that refuses new file calls at once.
#include "base/process_end.h"

#include <algorithm>
#include <atomic>
#include <vector>

CRITICAL_SECTION resource_lock;

namespace {

// Ready before main, for the life of the process: a thread left running
// after an abort may still take it while the process ends.
const struct ResourceLockInit {
  ResourceLockInit() { InitializeCriticalSection(&resource_lock); }
} resource_lock_init;

struct WorkingThread {
  DWORD id;
  int depth;     // nested frames
  bool stopped;  // suspended by the clean-up
};

std::atomic<bool> ending{false};
int file_calls = 0;  // under way

std::vector<WorkingThread>& working_threads() {
  static auto* threads = new std::vector<WorkingThread>();
  return *threads;
}

// The caller holds resource_lock.  The thread waits where it stands: the
// process ends on the handler's thread once every handler has returned.
void wait_for_the_end_if_ending() {
  if (!ending.load()) return;
  LeaveCriticalSection(&resource_lock);
  for (;;) Sleep(1000);
}

}  // namespace

void enter_working_frame() {
  ResourceLockHold hold;
  wait_for_the_end_if_ending();
  const DWORD self = GetCurrentThreadId();
  std::vector<WorkingThread>& threads = working_threads();
  auto it = std::find_if(threads.begin(), threads.end(),
                         [self](const WorkingThread& t) { return t.id == self; });
  if (it == threads.end()) {
    threads.push_back(WorkingThread{self, 1, false});
  } else {
    ++it->depth;
  }
}

void leave_working_frame() {
  ResourceLockHold hold;
  const DWORD self = GetCurrentThreadId();
  std::vector<WorkingThread>& threads = working_threads();
  threads.erase(std::remove_if(threads.begin(), threads.end(),
                               [self](WorkingThread& t) { return t.id == self && --t.depth == 0; }),
                threads.end());
}

void begin_file_call() {
  ResourceLockHold hold;
  wait_for_the_end_if_ending();
  ++file_calls;
}

void end_file_call() {
  ResourceLockHold hold;
  --file_calls;
}

void stop_working_threads() {
  ending.store(true);
  while (file_calls > 0) {
    LeaveCriticalSection(&resource_lock);
    Sleep(5);
    EnterCriticalSection(&resource_lock);
  }
  const DWORD self = GetCurrentThreadId();
  for (WorkingThread& t : working_threads()) {
    if (t.stopped || t.id == self) continue;
    // The thread holds no resource_lock (this thread does), so it cannot
    // stop inside a clean-up step.
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, t.id);
    if (thread != nullptr) {
      SuspendThread(thread);
      CloseHandle(thread);
    }
    t.stopped = true;
  }
}

void reset_process_end() {
  ResourceLockHold hold;
  ending.store(false);
  file_calls = 0;
  working_threads().clear();
}
