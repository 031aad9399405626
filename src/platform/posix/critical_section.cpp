// POSIX layer: critical sections, recursive as on Windows.
//
// A thread blocked in EnterCriticalSection is at a safe point for
// suspension: if it is marked when it gets the section, it gives the section
// back before it parks, so a parked thread never holds a section it was
// still waiting for.
#include <pthread.h>

#include "platform/posix/threads.h"

using namespace zarn_posix;

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  checkpoint();
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  checkpoint();
  if (pthread_mutex_trylock(&cs->mutex) == 0) return;  // free, or held by this thread
  for (;;) {
    SafePoint safe_point;
    pthread_mutex_lock(&cs->mutex);
    if (safe_point.leave_unless_marked()) return;
    pthread_mutex_unlock(&cs->mutex);
    safe_point.leave();  // parks until resumed, then tries again
  }
}

// Parks only after the section is released, never while holding it.
void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_unlock(&cs->mutex);
  checkpoint();
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  checkpoint();
  pthread_mutex_destroy(&cs->mutex);
}
