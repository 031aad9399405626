// Where a finished report line goes: appended to the log file, or printed.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "platform/win32.h"
#include "report/report.h"

char log_path[261];
thread_local int32_t output_enabled;

void emit_line(const char* line) {
  if (log_path[0] != '\0') {
    // Opened anew for every line and shared with nobody: the file is never
    // held between lines, and a line that meets the file held elsewhere is
    // lost rather than interleaved.
    HANDLE file = CreateFileA(log_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) {
      DWORD written = 0;
      WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    }
    CloseHandle(file);
    return;
  }
  printf("%s", line);
  // A console control handler may end the process at any moment: no line
  // may wait in the runtime's buffer.
  fflush(stdout);
}
