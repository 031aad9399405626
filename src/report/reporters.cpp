// The reporters: group start and finish lines, progress lines, error lines.
// Every line is built whole in a 1024-byte buffer, then emitted; only a
// thread with output_enabled set emits it or changes the record of groups
// (groups.h), whose stack of open groups gives the indentation.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "platform/win32.h"
#include "report/groups.h"
#include "report/json_report.h"
#include "report/report.h"

int set_error(ErrorInfo* error, int32_t code, DWORD system_error) {
  *error = ErrorInfo{code, static_cast<int32_t>(system_error)};
  return -1;
}

ErrorInfo report_failure(int32_t code, DWORD system_error, bool expected) {
  const ErrorInfo error{code, static_cast<int32_t>(system_error)};
  (expected ? report_error_plain : report_error)(&error);
  return error;
}

namespace {

const size_t kLineSize = 1024;
const size_t kSystemTextSize = 1025;
// MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US).
const DWORD kLangEnglish = 0x0409;

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

// The system's text for a Windows error number in `language_id`, on one
// line; empty when the system has none.
void system_text(int32_t system_error, DWORD language_id, char* text) {
  text[0] = '\0';
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(system_error), language_id,
                           reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (n == 0 || buffer == nullptr) return;
  strncpy(text, buffer, kSystemTextSize - 2);
  text[kSystemTextSize - 2] = '\0';
  LocalFree(buffer);
}

void error_line(const ErrorInfo* error, bool marked) {
  const char* text = error_text(error->code, current_language);
  if (text == nullptr) return;
  if (marked && !output_enabled && unprinted_keeper != nullptr) {
    unprinted_keeper(error, unprinted_context);
  }
  char line[kLineSize];
  char system[kSystemTextSize] = "";
  if (error->system_error != 0) {
    system_text(error->system_error, LANG_USER_DEFAULT, system);
    format_line(line, marked ? "        ! %s ERRORCODE=%d(%s)\r\n" : "        %s ERRORCODE=%d(%s)\r\n",
                text, static_cast<int>(error->system_error), system);
  } else {
    format_line(line, marked ? "        ! %s\r\n" : "        %s\r\n", text);
  }
  if (!output_enabled) return;
  // The JSON report is English: the system's English text where it has one.
  char english[kSystemTextSize] = "";
  if (error->system_error != 0 && json_report_wanted()) {
    system_text(error->system_error, kLangEnglish, english);
  }
  record_error_line(error->code, error->system_error, marked, english[0] != '\0' ? english : system);
  emit_line(line);
}

// The group's start or finish line, indented by the open groups around it.
void start_line(int id, const char* text) {
  if (!output_enabled) return;
  const int32_t depth = push_group(id);
  char line[kLineSize];
  format_line(line, message_text(kMsgGroupStarted), 2 * depth, "", text);
  emit_line(line);
}

void finish_line(const char* text, int result) {
  if (!output_enabled) return;
  const int32_t depth = pop_group(result);
  char line[kLineSize];
  format_line(line, message_text(kMsgGroupFinished), 2 * depth, "", text, result == 0 ? "OK" : "NG");
  emit_line(line);
}

}  // namespace

// A heading given as text has no catalogue id: the JSON report shows it empty.
void report_start(const char* text) { start_line(0, text); }

void report_finish(const char* text, int result) { finish_line(text, result); }

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

void begin_group(int id) { start_line(id, message_text(id)); }

void end_group(int id, int result) { finish_line(message_text(id), result); }

void report_message(int id, const char* arg) {
  char text[kLineSize];
  snprintf(text, sizeof text, message_text(id), arg);
  report_line(text);
}
