// The synchronisation file's process-wide state, its clean-up, and the
// console control handler that runs that clean-up on an interrupt.
#include <string.h>

#include "base/process_end.h"
#include "report/catalogue.h"
#include "report/json_report.h"
#include "report/report.h"
#include "userapl/app_sync_file.h"

HANDLE app_sync_file_handle = INVALID_HANDLE_VALUE;
char app_sync_file_name[261];

void userapl_cleanup() {
  char deleted[sizeof app_sync_file_name] = "";
  {
    // The handler and the check's thread never release the file at once.
    ResourceLockHold hold;
    if (app_sync_file_handle != INVALID_HANDLE_VALUE && CloseHandle(app_sync_file_handle)) {
      app_sync_file_handle = INVALID_HANDLE_VALUE;
    }
    if (app_sync_file_name[0] != '\0') {
      // Usually gone already: the person deleted it.
      if (DeleteFileA(app_sync_file_name)) {
        memcpy(deleted, app_sync_file_name, sizeof deleted);
      } else {
        note_left_behind(app_sync_file_name);
      }
      memset(app_sync_file_name, 0, sizeof app_sync_file_name);
    }
  }
  // Printed without resource_lock: a console that does not take the line
  // must not keep the handler waiting.
  if (deleted[0] != '\0') report_message(kMsgDeleted, deleted);
}

BOOL WINAPI userapl_ctrl_handler(DWORD /*control_type*/) {
  ResourceLockHold hold;
  // The check's thread stops first (after a creation of the file that is
  // under way): it then creates no file that this clean-up would miss, and
  // does not take the person's silence for an answer once the file is gone.
  stop_working_threads();
  userapl_cleanup();
  // The file to be checked stays: the person may still have it open.
  return FALSE;
}
