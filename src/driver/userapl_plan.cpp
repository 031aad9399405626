// The plan of the external application linkage check: the linkage check
// inside its operation and check-target groups, both finished with its
// result.
#include "driver/driver.h"
#include "report/scope_guard.h"
#include "userapl/userapl.h"

namespace {

// Catalogue headings of the groups.
const int kHeadingTargetFile = 22;
const int kHeadingLinkageOperation = 88;

}  // namespace

int run_userapl_plan(RunOptions* options) {
  GroupGuard operation(kHeadingLinkageOperation);
  GroupGuard target(kHeadingTargetFile);
  target.result = operation.result = run_external_application_check(options);
  return operation.result;
}
