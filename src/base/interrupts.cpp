// The registered clean-ups of an interrupt: a fixed list, so that the
// handler's thread allocates nothing while the working threads it stops
// may be suspended inside the allocator.
#include "base/interrupts.h"

#include "base/process_end.h"

namespace {

// More than the scopes that can be open at once: a test, its partner thread
// and two set-ups.
const int kMaxCleanups = 16;
InterruptCleanup cleanups[kMaxCleanups];
int cleanup_count = 0;

}  // namespace

void register_interrupt_cleanup(InterruptCleanup cleanup) {
  ResourceLockHold hold;
  if (cleanup_count < kMaxCleanups) cleanups[cleanup_count++] = cleanup;
}

void unregister_interrupt_cleanup(InterruptCleanup cleanup) {
  ResourceLockHold hold;
  for (int i = cleanup_count - 1; i >= 0; --i) {
    if (cleanups[i] != cleanup) continue;
    for (int j = i; j + 1 < cleanup_count; ++j) cleanups[j] = cleanups[j + 1];
    --cleanup_count;
    return;
  }
}

BOOL run_interrupt_cleanups(DWORD control_type) {
  // A copy: the clean-ups take resource_lock themselves, and a thread that
  // unregisters meanwhile must not shift the list under the loop.
  InterruptCleanup registered[kMaxCleanups];
  int count;
  {
    ResourceLockHold hold;
    count = cleanup_count;
    for (int i = 0; i < count; ++i) registered[i] = cleanups[i];
  }
  for (int i = count - 1; i >= 0; --i) {
    if (registered[i](control_type)) return TRUE;
  }
  return FALSE;
}
