// The one way a console control event (Ctrl+C, Ctrl+Break, the console
// closed, log-off, shut-down) reaches the clean-ups of the run.  The driver
// registers one console control handler for the whole run; a scope that
// holds what an interrupt must release (check files, synchronisation files,
// a set-up under way) registers its clean-up here for as long as it holds
// it.  The driver's handler runs them, latest first, once per registration,
// as the system runs console control handlers, and only then finishes what
// is left for the end of the run (the JSON report).
#ifndef ZARN_BASE_INTERRUPTS_H
#define ZARN_BASE_INTERRUPTS_H

#include "platform/win32.h"

// A clean-up has the shape of a console control handler: it is given the
// control type and returns FALSE to let the next one run and the process end.
typedef PHANDLER_ROUTINE InterruptCleanup;

// Under resource_lock (initialised by validate_options): a thread that a
// clean-up suspends never holds it, so the handler always gets the list.
void register_interrupt_cleanup(InterruptCleanup cleanup);
// Removes the latest registration of `cleanup`.
void unregister_interrupt_cleanup(InterruptCleanup cleanup);
// On the handler's thread: the registered clean-ups, latest first, until
// one returns TRUE (the event handled: the process goes on).  Whether one did.
BOOL run_interrupt_cleanups(DWORD control_type);

#endif
