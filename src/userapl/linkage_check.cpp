// The external application linkage check: five processing groups in which
// the tool acts on the file to be checked and asks the person to try
// something with the external application, or the person acts first and the
// tool checks what it then sees.  Each wait for the person is one
// wait_for_sync_file_deletion.
#include <string.h>

#include "base/interrupts.h"
#include "base/process_end.h"
#include "base/scope_guard.h"
#include "fileops/fileops.h"
#include "report/catalogue.h"
#include "report/json_report.h"
#include "report/report.h"
#include "userapl/app_sync_file.h"
#include "userapl/userapl.h"

namespace {

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

void say(int id) { report_line(message_text(id)); }

// Group 45: the tool creates the file, the person opens it, the tool
// deletes it, whatever the wait gave.
int app_opens_tools_file(const RunOptions* options, ErrorInfo* error) {
  GroupGuard group(kGroupAppOpensToolsFile);
  const char* target = options->target_file;
  report_message(kMsgCreatingTargetFile, target);
  HANDLE file = open_test_file(target, kReadWrite, kShareReadWrite, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    *error = report_failure(kErrPathFileNotOpened, GetLastError());
    return group.result = kResultNg;
  }
  close_handle(&file);
  report_message(kMsgCheckOpenableFromApp, target);
  say(kMsgCloseAfterCheck);
  const int waited = wait_for_sync_file_deletion(options, error);
  if (DeleteFileA(target)) {
    report_message(kMsgTargetFileDeleted, target);
  } else {
    note_left_behind(target);
  }
  if (waited != 0) group.result = kResultAborted;
  return group.result;
}

// The open test of groups 49 and 50 on the person's file: it must open.
int open_persons_file(const char* target, int announce, DWORD access, DWORD share,
                      ErrorInfo* error) {
  say(kMsgOpenTestStarting);
  report_message(announce, target);
  HANDLE file = open_test_file(target, access, share, OPEN_EXISTING);
  int result = kResultOk;
  if (file == INVALID_HANDLE_VALUE) {
    *error = report_failure(kErrTargetNotOpened, GetLastError());
    result = kResultNg;
  }
  say(kMsgOpenTestEnding);
  close_handle(&file);
  return result;
}

// Group 49: the person creates the file, the tool opens it for reading.
int tool_opens_for_read(const RunOptions* options, ErrorInfo* error) {
  GroupGuard group(kGroupToolOpensForRead);
  report_message(kMsgCreateFromApp, options->target_file);
  say(kMsgCloseAfterCreating);
  say(kMsgCreateWithinTimeout);
  if (wait_for_sync_file_deletion(options, error) != 0) return group.result = kResultAborted;
  return group.result = open_persons_file(options->target_file, kMsgOpeningForRead, GENERIC_READ,
                                          FILE_SHARE_READ, error);
}

// Group 50: the same file, for reading and writing; no wait.
int tool_opens_for_read_write(const RunOptions* options, ErrorInfo* error) {
  GroupGuard group(kGroupToolOpensForReadWrite);
  return group.result = open_persons_file(options->target_file, kMsgOpeningForReadWrite,
                                          kReadWrite, kShareReadWrite, error);
}

// Group 44: the tool holds the file unshared while the person makes sure
// the external application cannot open it.
int app_opens_unshared(const RunOptions* options, ErrorInfo* error) {
  GroupGuard group(kGroupAppOpensUnshared);
  const char* target = options->target_file;
  report_message(kMsgOpeningTargetUnshared, target);
  HANDLE file = open_test_file(target, kReadWrite, 0, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    *error = report_failure(kErrTargetNotOpened, GetLastError());
    return group.result = kResultNg;
  }
  // Closed on every way out; announced only on the way the person answered.
  ScopeGuard close([&file] { close_handle(&file); });
  report_message(kMsgCheckNotOpenableFromApp, target);
  say(kMsgCreateWithinTimeout);
  if (wait_for_sync_file_deletion(options, error) != 0) return group.result = kResultAborted;
  say(kMsgClosingTargetFile);
  return group.result;
}

// Group 48: the person holds the file open; the tool's unshared open must
// be refused for the sharing.  Any other failure (the file gone, say)
// shows nothing about the sharing and is NG.
int tool_opens_unshared(const RunOptions* options, ErrorInfo* error) {
  GroupGuard group(kGroupToolOpensUnshared);
  const char* target = options->target_file;
  report_message(kMsgOpenFromApp, target);
  say(kMsgCreateWithinTimeout);
  if (wait_for_sync_file_deletion(options, error) != 0) return group.result = kResultAborted;
  report_message(kMsgOpeningTargetUnshared, target);
  HANDLE file = open_test_file(target, kReadWrite, 0, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD refusal = GetLastError();
    const bool for_sharing = refusal == ERROR_SHARING_VIOLATION;
    *error = report_failure(kErrTargetNotOpened, refusal, for_sharing);
    if (!for_sharing) group.result = kResultNg;
  } else {
    *error = report_failure(kErrTargetWronglyOpened, 0);
    close_handle(&file);
    group.result = kResultNg;
  }
  say(kMsgClosingTargetFile);
  return group.result;
}

typedef int (*LinkageGroup)(const RunOptions* options, ErrorInfo* error);

const LinkageGroup kGroups[] = {app_opens_tools_file, tool_opens_for_read,
                                tool_opens_for_read_write, app_opens_unshared,
                                tool_opens_unshared};

}  // namespace

int run_external_application_check(const RunOptions* options) {
  {
    ResourceLockHold hold;
    app_sync_file_handle = INVALID_HANDLE_VALUE;
    memset(app_sync_file_name, 0, sizeof app_sync_file_name);
  }
  // A working thread before the handler can come: an interrupt stops this
  // thread before its clean-up looks for the synchronisation file.
  enter_working_frame();
  register_interrupt_cleanup(userapl_ctrl_handler);
  ScopeGuard end([] {
    userapl_cleanup();
    unregister_interrupt_cleanup(userapl_ctrl_handler);
    leave_working_frame();
  });

  ErrorInfo error = {0, 0};
  int result = kResultOk;
  for (LinkageGroup group : kGroups) {
    const int outcome = group(options, &error);
    if (outcome == kResultAborted) return kResultAborted;
    if (outcome == kResultNg) result = kResultNg;
  }
  return result;
}
