// The reporters: group start and finish lines, progress lines, error lines.
// Every line is built whole in a 1024-byte buffer, then emitted; only a
// thread with output_enabled set emits it or touches nesting_level.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "platform/win32.h"
#include "report/report.h"

int32_t nesting_level;

namespace {

const size_t kLineSize = 1024;
const size_t kSystemTextSize = 1025;

thread_local ErrorKeeper unprinted_keeper = nullptr;
thread_local void* unprinted_context = nullptr;

// snprintf into a line buffer.  A line too long for the buffer is cut, but
// keeps its "\r\n" so that the next line still starts on a line of its own.
void format_line(char* line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, kLineSize, format, args);
  va_end(args);
  if (n < 0) {
    line[0] = '\0';
  } else if (static_cast<size_t>(n) >= kLineSize) {
    line[kLineSize - 3] = '\r';
    line[kLineSize - 2] = '\n';
  }
}

// The system's text for a Windows error number, on one line; empty when the
// system has none.
void system_text(int32_t system_error, char* text) {
  text[0] = '\0';
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(system_error), LANG_USER_DEFAULT,
                           reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (n == 0 || buffer == nullptr) return;
  strncpy(text, buffer, kSystemTextSize - 2);
  text[kSystemTextSize - 2] = '\0';
  LocalFree(buffer);
}

void error_line(const ErrorInfo* error, bool marked) {
  const char* text = error_text(error->code);
  if (text == nullptr) return;
  if (marked && !output_enabled && unprinted_keeper != nullptr) {
    unprinted_keeper(error, unprinted_context);
  }
  char line[kLineSize];
  if (error->system_error != 0) {
    char system[kSystemTextSize];
    system_text(error->system_error, system);
    format_line(line, marked ? "        ! %s ERRORCODE=%d(%s)\r\n" : "        %s ERRORCODE=%d(%s)\r\n",
                text, static_cast<int>(error->system_error), system);
  } else {
    format_line(line, marked ? "        ! %s\r\n" : "        %s\r\n", text);
  }
  if (output_enabled) emit_line(line);
}

}  // namespace

// nesting_level belongs to the printing thread: a thread that prints
// nothing returns before it would read it.
void report_start(const char* text) {
  if (!output_enabled) return;
  char line[kLineSize];
  format_line(line, message_text(kMsgGroupStarted), 2 * nesting_level, "", text);
  emit_line(line);
  ++nesting_level;
}

void report_finish(const char* text, int result) {
  if (!output_enabled) return;
  --nesting_level;
  char line[kLineSize];
  format_line(line, message_text(kMsgGroupFinished), 2 * nesting_level, "", text, result == 0 ? "OK" : "NG");
  emit_line(line);
}

void report_line(const char* text) {
  char line[kLineSize];
  format_line(line, "        %s\r\n", text);
  if (output_enabled) emit_line(line);
}

void report_error(const ErrorInfo* error) { error_line(error, true); }

void report_error_plain(const ErrorInfo* error) { error_line(error, false); }

void keep_unprinted_errors(ErrorKeeper keep, void* context) {
  unprinted_keeper = keep;
  unprinted_context = context;
}

void begin_group(int id) { report_start(message_text(id)); }

void end_group(int id, int result) { report_finish(message_text(id), result); }

void report_message(int id, const char* arg) {
  char text[kLineSize];
  snprintf(text, sizeof text, message_text(id), arg);
  report_line(text);
}
