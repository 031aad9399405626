// Its own main: the tests re-run this binary as partner processes (support/child.h).
#include "support/child.h"

int main(int argc, char** argv) {
  return child_main_or_tests(argc, argv);
}
