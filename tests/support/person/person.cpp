// The hands of the scripted person in the end-to-end tests of the linkage
// check: an external application that opens, creates and deletes files
// through the file interface of the build's own platform (on POSIX the
// tool's layer, so that its opens meet the tool's share modes as another
// Windows program's would; under Wine a Windows program of the same prefix).
//
// One command a line on standard input, one answer a line on standard
// output: 0, or the Windows error number of the failed call.
//   open F     open F for reading and writing, shared, and close it
//   create F   create F as a new file, shared, and close it
//   hold F     open F for reading and writing, unshared, and keep it open
//   delete F   delete F
// At the end of its input it closes what it holds and ends.
#include <stdio.h>
#include <string.h>

#include "platform/win32.h"

int main() {
  HANDLE held = INVALID_HANDLE_VALUE;
  char line[1024];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    line[strcspn(line, "\r\n")] = '\0';
    char* name = strchr(line, ' ');
    if (name == nullptr) return 2;
    *name++ = '\0';
    DWORD error = 0;
    if (strcmp(line, "delete") == 0) {
      if (!DeleteFileA(name)) error = GetLastError();
    } else {
      const bool hold = strcmp(line, "hold") == 0;
      HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                                hold ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                strcmp(line, "create") == 0 ? CREATE_NEW : OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
      } else if (hold && held == INVALID_HANDLE_VALUE) {
        held = file;
      } else {
        CloseHandle(file);
      }
    }
    printf("%lu\n", static_cast<unsigned long>(error));
    fflush(stdout);
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}
