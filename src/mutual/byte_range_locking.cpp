// The mutual lock test: the paired lock sequence between the two processes.
#include "mutual/mutual_check.h"
#include "mutual/mutual_state.h"

namespace {

// Each of groups 60, 68 and 70 opens with two synchronisation points: the
// first ends the previous group's steps, the second has both processes'
// locks in place before either issues its waiting request.
const PairedShape kMutualPairedShape = {{2, 2, 2}};

}  // namespace

int mutual_lock_tests(const RunOptions* options, int32_t target) {
  return paired_lock_sequence(options, target, kMutualFrame, kMutualPairedShape,
                              mutual_script(kMutualLockTest, target));
}
