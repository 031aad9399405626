// Thread suspension and critical sections, as the console handler of the
// synchronisation set-up relies on them.
#include "helpers.h"

namespace {

// Suspension as the console handler of the synchronisation set-up uses it: a
// thread opened by id and suspended makes no more progress, whether it was
// running, waiting for an event or for a critical section, until resumed.
struct Worker {
  int mode;  // 0: counts at once; 1: after an event; 2: inside a critical section
  std::atomic<int> count{0};
  std::atomic<bool> stop{false};
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CRITICAL_SECTION cs;
};

DWORD WINAPI work(LPVOID arg) {
  auto* w = static_cast<Worker*>(arg);
  if (w->mode == 1) WaitForSingleObject(w->event, kLong);
  if (w->mode == 2) EnterCriticalSection(&w->cs);
  for (; !w->stop; Sleep(1)) ++w->count;
  if (w->mode == 2) LeaveCriticalSection(&w->cs);
  return 0;
}

TEST(Threads, SuspensionAndRecursiveCriticalSections) {
  for (int mode : {0, 1, 2}) {
    Worker w{mode};
    InitializeCriticalSection(&w.cs);
    EnterCriticalSection(&w.cs);
    EnterCriticalSection(&w.cs);  // the owner enters again without blocking
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, work, &w, 0, &id);
    LeaveCriticalSection(&w.cs);
    Sleep(50);  // running, or in its wait
    EXPECT_TRUE(mode != 2 || w.count.load() == 0) << "entered a section still held once";
    HANDLE opened = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
    EXPECT_EQ(0u, SuspendThread(opened));
    SetEvent(w.event);  // its wait is satisfied, but it must not go on
    LeaveCriticalSection(&w.cs);
    Sleep(50);
    int before = w.count.load();
    Sleep(200);
    EXPECT_EQ(before, w.count.load()) << mode;
    EXPECT_EQ(1u, ResumeThread(opened));
    EXPECT_TRUE(eventually([&] { return w.count.load() > before; })) << mode;
    w.stop = true;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
    DeleteCriticalSection(&w.cs);
    for (HANDLE h : {w.event, opened, thread}) CloseHandle(h);
  }
}

}  // namespace
