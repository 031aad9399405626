// The interrupt path of the run: one console control handler for the
// process, registered once validation has made resource_lock.
#include "base/interrupts.h"
#include "driver/driver.h"
#include "platform/win32.h"
#include "report/json_report.h"

namespace {

// Runs on a thread the system starts for the event, while the run goes on.
// The clean-ups stop the working threads before they release anything; the
// report is frozen and its file made before that, and written after them.
BOOL WINAPI interrupt_path(DWORD control_type) {
  const bool writes = json_report_interrupt_begin();
  const BOOL handled = run_interrupt_cleanups(control_type);
  json_report_interrupt_end(writes);
  return handled;  // FALSE: the system's default handling ends the process
}

}  // namespace

void arm_interrupt_path() { SetConsoleCtrlHandler(interrupt_path, TRUE); }
