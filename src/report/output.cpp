// Where a finished report line goes: appended to the log file, or printed.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "platform/win32.h"
#include "report/report.h"

char log_path[261];
thread_local int32_t output_enabled;

namespace {

// A line that meets the log file held elsewhere (another run writing a line
// of its own) tries again for this long before it is given up.
constexpr int kLogOpenTries = 500;
constexpr DWORD kLogOpenPauseMs = 10;

// Opened anew for every line and shared with nobody: the file is never held
// between lines, and lines of several runs never interleave.  A symbolic
// link is followed: logs are often links.
HANDLE open_log(const char* path) {
  for (int tries = 1;; ++tries) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        tries == kLogOpenTries) {
      return file;
    }
    Sleep(kLogOpenPauseMs);
  }
}

}  // namespace

bool probe_log_file(const char* path) {
  HANDLE file = open_log(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

void emit_line(const char* line) {
  if (log_path[0] != '\0') {
    HANDLE file = open_log(log_path);
    if (file == INVALID_HANDLE_VALUE) return;
    if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) {
      // The whole line, however many writes it takes.
      const char* rest = line;
      DWORD left = static_cast<DWORD>(strlen(line));
      DWORD written = 0;
      while (left > 0 && WriteFile(file, rest, left, &written, nullptr) && written > 0) {
        rest += written;
        left -= written;
      }
    }
    CloseHandle(file);
    return;
  }
  printf("%s", line);
  // A console control handler may end the process at any moment: no line
  // may wait in the runtime's buffer.
  fflush(stdout);
}
