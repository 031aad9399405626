// The plan of the external application linkage check: the linkage check
// inside its operation and check-target groups, both finished with its
// result.
#include "driver/driver.h"
#include "report/catalogue.h"
#include "report/report.h"
#include "userapl/userapl.h"

int run_userapl_plan(RunOptions* options) {
  GroupGuard operation(kGroupLinkageCheck);
  GroupGuard target(kGroupTargetFile);
  target.result = operation.result = run_external_application_check(options);
  return operation.result;
}
