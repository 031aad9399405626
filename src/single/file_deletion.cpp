// The deletion test: a file this process created and closed can be deleted.
#include "base/scope_guard.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/single_check.h"

int single_deletion_test(const RunOptions* options) {
  enter_slot_test();
  // After a successful deletion the name is still in the slot; the
  // clean-up's second attempt then fails quietly.
  ScopeGuard end([] { leave_slot_test(); });
  char name[261] = {0};
  HANDLE file = open_own_check_file(options->target_path, name);
  if (file == INVALID_HANDLE_VALUE) {
    report_failure(kErrPathFileNotOpened, GetLastError());
    return kResultNg;
  }
  report_line(message_text(kMsgClosing));
  slot_close_handle(&check_slots[0].own_handle);

  GroupGuard g(kGroupDeleteOwn);
  if (DeleteFileA(name)) {
    report_message(kMsgDeleted, name);
  } else {
    report_failure(kErrDeleteFailed, GetLastError());
    g.result = kResultNg;
  }
  return g.result;
}
