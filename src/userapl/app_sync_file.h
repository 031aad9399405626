// Internal to the linkage check: the external application synchronisation
// file ZARSTOP.stop beside the file to be checked, which the tool creates
// before each wait and the person deletes to say "done".
#ifndef ZARN_USERAPL_APP_SYNC_FILE_H
#define ZARN_USERAPL_APP_SYNC_FILE_H

#include "base/run_options.h"
#include "platform/win32.h"
#include "report/report.h"

// The file while a wait is prepared or runs, for the clean-up and the
// console control handler; changed under resource_lock.
extern HANDLE app_sync_file_handle;    // while the tool creates it, else INVALID_HANDLE_VALUE
extern char app_sync_file_name[261];  // empty when there is none

// What the watcher thread is started with.  It lives until the watcher has
// ended: wait_for_sync_file_deletion returns only then.
struct WatcherArgs {
  const RunOptions* options;  // not read by the watcher
  char sync_file_name[260];
  HANDLE stop_event;  // auto-reset; set to stop the watcher
};

// Creates the file, waits until it is gone, at most -t seconds.  0 when the
// person deleted it in time; else -1 after printing `error`, once the file
// and everything the wait made are gone.
int wait_for_sync_file_deletion(const RunOptions* options, ErrorInfo* error);
// The watcher thread: ends, always with 0, once the file is gone or
// stop_event is set.
DWORD WINAPI sync_file_watcher(LPVOID args);

// Closes and deletes the file, if any.
void userapl_cleanup();
// Registered while the check runs: deletes the file and lets the process end.
BOOL WINAPI userapl_ctrl_handler(DWORD control_type);

#endif
