// The single-host open tests: the creation dispositions on one check file.
#include "base/scope_guard.h"
#include "fileops/check_name.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/single_check.h"

namespace {

// Prints message 10 and opens the check file into slot 0; the reason of a
// failure stays in the last error.
HANDLE open_case_file(const CheckFileName& name, DWORD disposition) {
  return announce_and_open(kMsgOpening, name, &check_slots[0].own_handle, disposition);
}

// Cases 53 and 52: the open must be refused with `refusal`.
int expect_refusal(int group, const CheckFileName& name, DWORD disposition, DWORD refusal) {
  GroupGuard g(group);
  if (open_case_file(name, disposition) == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    report_failure(kErrPathFileOpenError, error, error == refusal);
    if (error != refusal) g.result = kResultNg;
  } else {
    report_failure(kErrPathFileWronglyOpened, 0);
    slot_close_handle(&check_slots[0].own_handle);
    g.result = kResultNg;
  }
  return g.result;
}

// Cases 54 and 51: the open must succeed.
int expect_open(int group, const CheckFileName& name, DWORD disposition, int32_t code) {
  GroupGuard g(group);
  if (open_case_file(name, disposition) == INVALID_HANDLE_VALUE) {
    report_failure(code, GetLastError());
    g.result = kResultNg;
  } else {
    slot_close_handle(&check_slots[0].own_handle);
  }
  return g.result;
}

}  // namespace

int single_open_tests(const RunOptions* options, int32_t target) {
  const bool path = target == kTargetPath;

  enter_slot_test();
  ScopeGuard end([] { leave_slot_test(); });
  CheckFileName name;
  name_check_file(kModeSingle, target_folder(options, target), 0, &name);
  slot_set_name(check_slots[0].own_file_name, name.path);

  int result = kResultOk;
  if (path) {
    result = expect_refusal(kGroupOpenMissing, name, OPEN_EXISTING, ERROR_FILE_NOT_FOUND);
  }
  // Without the file the remaining cases mean nothing.
  if (expect_open(kGroupCreateMissing, name, CREATE_NEW, not_opened_code(target)) != kResultOk) {
    return kResultNg;
  }
  if (path) {
    result = combine_results(
        result, expect_refusal(kGroupCreateExisting, name, CREATE_NEW, ERROR_FILE_EXISTS));
    result = combine_results(
        result, expect_open(kGroupOpenExisting, name, OPEN_EXISTING, kErrPathFileNotOpened));
  }
  return result;
}
