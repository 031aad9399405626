// zarntwchk: checks that a shared folder behaves as a correct file system must.
#include "driver/driver.h"

int main(int argc, char** argv) { return zarn_main(argc, argv); }
