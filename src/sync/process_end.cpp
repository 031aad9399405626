// Working threads and their stop at the end of an interrupted run.  Read and
// written under resource_lock.
#include "sync/process_end.h"

#include <algorithm>
#include <vector>

#include "driver/run_options.h"

namespace {

struct WorkingThread {
  DWORD id;
  int depth;     // nested frames
  bool stopped;  // suspended by the clean-up
};

std::vector<WorkingThread>& working_threads() {
  static auto* threads = new std::vector<WorkingThread>();
  return *threads;
}

}  // namespace

void enter_working_frame() {
  EnterCriticalSection(&resource_lock);
  const DWORD self = GetCurrentThreadId();
  std::vector<WorkingThread>& threads = working_threads();
  auto it = std::find_if(threads.begin(), threads.end(),
                         [self](const WorkingThread& t) { return t.id == self; });
  if (it == threads.end()) {
    threads.push_back(WorkingThread{self, 1, false});
  } else {
    ++it->depth;
  }
  LeaveCriticalSection(&resource_lock);
}

void leave_working_frame() {
  EnterCriticalSection(&resource_lock);
  const DWORD self = GetCurrentThreadId();
  std::vector<WorkingThread>& threads = working_threads();
  threads.erase(std::remove_if(threads.begin(), threads.end(),
                               [self](WorkingThread& t) { return t.id == self && --t.depth == 0; }),
                threads.end());
  LeaveCriticalSection(&resource_lock);
}

void stop_working_threads() {
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
