// Its own main: the tests re-run this binary as partner processes (support/child.h).
#include "base/process_end.h"
#include "support/child.h"

int main(int argc, char** argv) {
  InitializeCriticalSection(&resource_lock);  // the driver's validation does this in the tool
  return child_main_or_tests(argc, argv);
}
