// The end of an interrupted run.
//
// A console control handler runs on a thread of its own while the tests go
// on.  Before it releases anything, it stops the threads that work on check
// files and synchronisation files (the working threads): none of them then
// meets a closed handle or a torn-down partner and reports that as a fault
// of the folder, and none reads a record while the handler tears it down.
#ifndef ZARN_SYNC_PROCESS_END_H
#define ZARN_SYNC_PROCESS_END_H

// A working thread's frame (a test, a set-up); frames nest.  A thread is
// stopped by the clean-up while it is inside one.  The caller does not hold
// resource_lock.
void enter_working_frame();
void leave_working_frame();

// A console handler's first step, with resource_lock held: suspends every
// working thread but the caller.  Later calls find nothing more to do.
void stop_working_threads();

#endif
