// The life of one run: language, command line, validation, plan, exit status.
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "driver/driver.h"
#include "platform/win32.h"
#include "report/json_report.h"
#include "report/report.h"

namespace {

const LCID kLocaleJapanese = 1041;

}  // namespace

int zarn_main(int argc, char** argv) {
#ifdef _WIN32
  // Every line carries its own "\r\n"; text mode would make it "\r\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  RunOptions options;
  memset(&options, 0, sizeof options);
  if (GetSystemDefaultLCID() == kLocaleJapanese) current_language = kJapanese;

  if (parse_command_line(argc, argv, &options) != 0) return -1;
  if (validate_options(&options) != 0) return -1;
  json_report_begin(&options);
  arm_interrupt_path();

  int result = kResultAborted;
  switch (options.mode) {
    case kModeSingle: result = run_single_environment_check(&options); break;
    case kModeDouble: result = run_mutual_environment_check(&options); break;
    case kModeUserApl: result = run_userapl_plan(&options); break;
    default: break;
  }
  json_report_finish(result);
  return result == kResultOk ? 0 : -1;
}
