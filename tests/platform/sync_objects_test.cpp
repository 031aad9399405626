// Events, waitable timers, thread waits, critical sections and thread
// suspension: the Windows behaviour the tool's waits and its console handler
// rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/win32.h"

namespace {

const DWORD kLong = 20000;  // bound against hangs only

// FILETIME units (100 ns since 1601) for a wall-clock instant `ms` from now.
LONGLONG filetime_in(int ms) {
  auto since_1970 = std::chrono::system_clock::now().time_since_epoch() + std::chrono::milliseconds(ms);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since_1970).count() / 100 +
         116444736000000000LL;
}

// Waits up to kLong ms for `pred`, polling.
template <class Pred>
bool eventually(Pred pred) {
  for (DWORD waited = 0; waited < kLong; waited += 5) {
    if (pred()) return true;
    Sleep(5);
  }
  return pred();
}

}  // namespace

TEST(Events, ManualAndAutoReset) {
  HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);  // starts set
  ASSERT_NE(nullptr, manual);
  ASSERT_NE(nullptr, automatic);

  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 0));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 30));
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));  // stays set
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 0));

  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(automatic, 0));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(automatic, 0));  // the wait reset it
  EXPECT_TRUE(SetEvent(automatic));
  EXPECT_TRUE(SetEvent(automatic));  // does not count
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(automatic, kLong));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(automatic, 0));

  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_TRUE(CloseHandle(automatic));
  SetLastError(0);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(manual, 0));  // closed
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_FALSE(SetEvent(manual));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

namespace {
struct Waiter {
  HANDLE event;
  std::atomic<int>* woken;
};
DWORD WINAPI wait_and_count(LPVOID arg) {
  auto* w = static_cast<Waiter*>(arg);
  if (WaitForSingleObject(w->event, kLong) != WAIT_OBJECT_0) return 1;
  ++*w->woken;
  return 0;
}
}  // namespace

TEST(Events, AutoResetReleasesOneWaiterPerSet) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> woken{0};
  Waiter w{event, &woken};
  HANDLE a = CreateThread(nullptr, 0, wait_and_count, &w, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, wait_and_count, &w, 0, nullptr);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  Sleep(100);  // let both block
  EXPECT_EQ(0, woken.load());
  SetEvent(event);
  EXPECT_TRUE(eventually([&] { return woken.load() == 1; }));
  Sleep(100);
  EXPECT_EQ(1, woken.load());  // the other one still waits
  SetEvent(event);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(a, kLong));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b, kLong));
  EXPECT_EQ(2, woken.load());
  CloseHandle(a);
  CloseHandle(b);
  CloseHandle(event);
}

TEST(Timers, RelativeAndAbsoluteDueTimes) {
  HANDLE sync_timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  HANDLE manual_timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
  ASSERT_NE(nullptr, sync_timer);
  ASSERT_NE(nullptr, manual_timer);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(sync_timer, 0));  // never set

  LARGE_INTEGER due;
  due.QuadPart = -500000;  // 50 ms from now
  ASSERT_TRUE(SetWaitableTimer(sync_timer, &due, 0, nullptr, nullptr, FALSE));
  ASSERT_TRUE(SetWaitableTimer(manual_timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sync_timer, kLong));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(sync_timer, 0));  // a synchronisation timer resets
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual_timer, kLong));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual_timer, 0));  // a manual one stays set

  due.QuadPart = -600000000LL;  // a minute: setting again clears the signalled state
  ASSERT_TRUE(SetWaitableTimer(manual_timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual_timer, 30));

  due.QuadPart = filetime_in(50);  // absolute, wall clock
  ASSERT_TRUE(SetWaitableTimer(manual_timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual_timer, kLong));
  due.QuadPart = filetime_in(-60000);  // already past: signalled at once
  ASSERT_TRUE(SetWaitableTimer(sync_timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sync_timer, kLong));
  due.QuadPart = filetime_in(60000);
  ASSERT_TRUE(SetWaitableTimer(sync_timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(sync_timer, 30));

  CloseHandle(sync_timer);
  CloseHandle(manual_timer);
}

namespace {
DWORD WINAPI wait_then_exit(LPVOID arg) {
  return WaitForSingleObject(static_cast<HANDLE>(arg), kLong) == WAIT_OBJECT_0 ? 42 : 1;
}
}  // namespace

TEST(Threads, WaitExitCodeAndIds) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, wait_then_exit, go, 0, &id);
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(0u, id);
  EXPECT_NE(0u, GetCurrentThreadId());
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());

  DWORD code = 0;
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 30));
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(STILL_ACTIVE, code);
  SetEvent(go);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(42u, code);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));  // an ended thread stays signalled
  EXPECT_TRUE(CloseHandle(thread));
  CloseHandle(go);

  SetLastError(0);
  EXPECT_EQ(nullptr, OpenThread(THREAD_SUSPEND_RESUME, FALSE, 0));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
#ifndef _WIN32
  // Ids are never reused here, so an ended thread's id names nothing.
  EXPECT_EQ(nullptr, OpenThread(THREAD_SUSPEND_RESUME, FALSE, id));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
#endif
}

namespace {
struct Shared {
  CRITICAL_SECTION* cs;
  std::atomic<bool> entered{false};
};
DWORD WINAPI enter_and_leave(LPVOID arg) {
  auto* s = static_cast<Shared*>(arg);
  EnterCriticalSection(s->cs);
  s->entered = true;
  LeaveCriticalSection(s->cs);
  return 0;
}
}  // namespace

TEST(CriticalSections, RecursiveAndExclusive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner enters again without blocking
  Shared s;
  s.cs = &cs;
  HANDLE thread = CreateThread(nullptr, 0, enter_and_leave, &s, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  LeaveCriticalSection(&cs);
  Sleep(100);
  EXPECT_FALSE(s.entered.load());  // still held once
  LeaveCriticalSection(&cs);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  EXPECT_TRUE(s.entered.load());
  CloseHandle(thread);
  DeleteCriticalSection(&cs);
}

// Suspension as the console handler of the synchronisation set-up uses it: a
// suspended thread makes no more progress, wherever it was, until resumed.
namespace {
struct Worker {
  std::atomic<int> count{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> release{false};
  std::atomic<DWORD> id{0};
  HANDLE event = nullptr;
  CRITICAL_SECTION* cs = nullptr;
};

DWORD WINAPI count_with_sleeps(LPVOID arg) {
  auto* w = static_cast<Worker*>(arg);
  while (!w->stop) {
    ++w->count;
    Sleep(1);
  }
  return 0;
}

DWORD WINAPI count_after_wait(LPVOID arg) {
  auto* w = static_cast<Worker*>(arg);
  if (WaitForSingleObject(w->event, kLong) != WAIT_OBJECT_0) return 1;
  ++w->count;
  return 0;
}

DWORD WINAPI count_after_enter(LPVOID arg) {
  auto* w = static_cast<Worker*>(arg);
  EnterCriticalSection(w->cs);
  ++w->count;
  LeaveCriticalSection(w->cs);
  return 0;
}

DWORD WINAPI suspend_self(LPVOID arg) {
  auto* w = static_cast<Worker*>(arg);
  HANDLE me = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetCurrentThreadId());
  if (me == nullptr) return 1;
  ++w->count;
  SuspendThread(me);
  ++w->count;
  CloseHandle(me);
  return 0;
}

DWORD WINAPI spin_then_count(LPVOID arg) {
  auto* w = static_cast<Worker*>(arg);
  w->id = GetCurrentThreadId();
  while (!w->release) {
  }
  for (;;) {
    Sleep(1);
    ++w->count;
    if (w->stop) return 0;
  }
}

// Resumes until the thread was really suspended (ResumeThread gives the
// previous count), for threads that suspend themselves.
bool resume_suspended(HANDLE thread) {
  for (DWORD waited = 0; waited < kLong; waited += 5) {
    if (ResumeThread(thread) == 1) return true;
    Sleep(5);
  }
  return false;
}

// A thread opened by id, suspended: it stays put for a while, then moves on
// once resumed.
void expect_no_progress_while_suspended(Worker& w, HANDLE opened) {
  Sleep(50);
  int before = w.count.load();
  Sleep(200);
  EXPECT_EQ(before, w.count.load());
  EXPECT_EQ(1u, ResumeThread(opened));
  EXPECT_TRUE(eventually([&] { return w.count.load() > before; }));
}

}  // namespace

TEST(Suspension, RunningThreadStopsUntilResumed) {
  Worker w;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, count_with_sleeps, &w, 0, &id);
  ASSERT_NE(nullptr, thread);
  ASSERT_TRUE(eventually([&] { return w.count.load() > 3; }));
  HANDLE opened = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ(0u, SuspendThread(opened));
  EXPECT_EQ(1u, SuspendThread(opened));  // counts, as on Windows
  EXPECT_EQ(2u, ResumeThread(opened));
  expect_no_progress_while_suspended(w, opened);
  EXPECT_EQ(0u, ResumeThread(opened));  // not suspended: nothing changes
  w.stop = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  CloseHandle(opened);
  CloseHandle(thread);
}

TEST(Suspension, ThreadInWaitOrCriticalSectionStaysStoppedAfterItEnds) {
  Worker w;
  w.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, count_after_wait, &w, 0, &id);
  ASSERT_NE(nullptr, thread);
  Sleep(50);
  HANDLE opened = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ(0u, SuspendThread(opened));
  SetEvent(w.event);  // its wait is satisfied, but it must not go on
  expect_no_progress_while_suspended(w, opened);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  CloseHandle(opened);
  CloseHandle(thread);
  CloseHandle(w.event);

  Worker v;
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  v.cs = &cs;
  EnterCriticalSection(&cs);
  thread = CreateThread(nullptr, 0, count_after_enter, &v, 0, &id);
  ASSERT_NE(nullptr, thread);
  Sleep(50);
  opened = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ(0u, SuspendThread(opened));
  LeaveCriticalSection(&cs);
  expect_no_progress_while_suspended(v, opened);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  EnterCriticalSection(&cs);  // the parked thread did not keep the section
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
  CloseHandle(opened);
  CloseHandle(thread);
}

TEST(Suspension, SelfSuspensionStopsAtOnce) {
  Worker w;
  HANDLE thread = CreateThread(nullptr, 0, suspend_self, &w, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_TRUE(eventually([&] { return w.count.load() == 1; }));
  Sleep(100);
  EXPECT_EQ(1, w.count.load());
  EXPECT_TRUE(resume_suspended(thread));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  EXPECT_EQ(2, w.count.load());
  CloseHandle(thread);
}

// Here a thread that never calls into the layer cannot be stopped: after a
// bounded wait SuspendThread returns with the thread marked, and it stops at
// its next call.  On Windows it stops where it is.  Either way it makes no
// progress past that call.
TEST(Suspension, BusyThreadStopsAtItsNextCall) {
  Worker w;
  HANDLE thread = CreateThread(nullptr, 0, spin_then_count, &w, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_TRUE(eventually([&] { return w.id.load() != 0; }));
  HANDLE opened = OpenThread(THREAD_SUSPEND_RESUME, FALSE, w.id.load());
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ(0u, SuspendThread(opened));
  w.release = true;
  Sleep(200);
  EXPECT_EQ(0, w.count.load());
  w.stop = true;
  EXPECT_EQ(1u, ResumeThread(opened));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLong));
  EXPECT_EQ(1, w.count.load());
  CloseHandle(opened);
  CloseHandle(thread);
}
