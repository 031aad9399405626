// One party of Double mode alone in a folder: the set-up waits for a
// partner that never comes until the time limit.  For lone_party.sh.
//   lone_party <folder> <timeout_sec>
// Exit status 0 when it gave up as it must (no partner, no record).
#include <stdlib.h>

#include "base/process_end.h"
#include "base/run_options.h"
#include "sync/sync.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  InitializeCriticalSection(&resource_lock);  // the tool's validation does this
  return sync_setup(kModeDouble, argv[1], atoi(argv[2])) == nullptr ? 0 : 1;
}
