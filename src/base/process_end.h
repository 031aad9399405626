// What every clean-up of the process shares: resource_lock, and the end of
// an interrupted run.
//
// A console control handler runs on a thread of its own while the tests go
// on.  Before it releases anything, it stops the threads that work on check
// files and synchronisation files (the working threads): none of them then
// meets a closed handle or a torn-down partner and reports that as a fault
// of the folder, and none creates a file after the clean-up has looked for
// files.  A working thread makes its slow file-system calls that create or
// delete files outside resource_lock and announces them here, so that the
// handler waits for them without holding resource_lock, and never behind one
// of them for it.
#ifndef ZARN_BASE_PROCESS_END_H
#define ZARN_BASE_PROCESS_END_H

#include "platform/win32.h"

// Serialises every clean-up between working threads and console control
// handlers.  Initialised by validate_options, deleted by main.
extern CRITICAL_SECTION resource_lock;  // initialised before main

// Holds resource_lock for the life of the scope.
class ResourceLockHold {
 public:
  ResourceLockHold() { EnterCriticalSection(&resource_lock); }
  ~ResourceLockHold() { LeaveCriticalSection(&resource_lock); }
  ResourceLockHold(const ResourceLockHold&) = delete;
  ResourceLockHold& operator=(const ResourceLockHold&) = delete;
};

// A working thread's frame (a test, a set-up); frames nest.  A thread is
// stopped by the clean-up while it is inside one.  Once the process is
// ending, entering a frame never returns: the thread waits for the end.
void enter_working_frame();
void leave_working_frame();

// Around a working thread's call that may create or delete a file (an open,
// a deletion), made without resource_lock.  begin_file_call never returns
// once the process is ending.  end_file_call comes once the outcome is where
// a clean-up finds it (a handle in its slot, say), usually under resource_lock.
void begin_file_call();
void end_file_call();

// A console handler's first step, with resource_lock held (once: it is left
// while waiting): from here on the process is ending.  Waits until no file
// call is under way (resource_lock left meanwhile), then suspends every
// working thread but the caller.  Later calls find nothing more to do.
void stop_working_threads();

// Tests only: the state of a process that has not begun to end.
void reset_process_end();

#endif
