// The message catalogue, the error table and the reporters.  Only a thread
// whose output_enabled flag is set prints; everything goes to the console or,
// with -o, to the log file, one open-append-close per line.  The groups and
// error lines printed are also kept (groups.h) for the JSON report.
#ifndef ZARN_REPORT_REPORT_H
#define ZARN_REPORT_REPORT_H

#include <stdint.h>

#include "base/run_options.h"
#include "platform/win32.h"
#include "report/catalogue.h"

struct ErrorInfo {
  int32_t code;          // ErrorCode: selects the table text
  int32_t system_error;  // Windows error number; 0 when none belongs to the report
};

// Fills the record of a failing operation: -1, what the operation returns.
int set_error(ErrorInfo* error, int32_t code, DWORD system_error);
// The record, printed: without the "!" when the failure is the outcome the
// test expects (report_error_plain), else with it (report_error).
ErrorInfo report_failure(int32_t code, DWORD system_error, bool expected = false);

// The code of a check file that could not be opened in the folder of `target`.
inline int32_t not_opened_code(int32_t target) {
  return target == kTargetShare ? kErrShareFileNotOpened : kErrPathFileNotOpened;
}

extern char log_path[261];
extern thread_local int32_t output_enabled;

void report_start(const char* text);
void report_finish(const char* text, int result);
void report_line(const char* text);
void report_error(const ErrorInfo* error);
void report_error_plain(const ErrorInfo* error);

// A thread that prints nothing can still keep the reasons it would have
// printed: while set, every ErrorInfo that report_error gets on the calling
// thread with output_enabled 0 goes to `keep` (nullptr: dropped again).
typedef void (*ErrorKeeper)(const ErrorInfo* error, void* context);
void keep_unprinted_errors(ErrorKeeper keep, void* context);
void begin_group(int id);
void end_group(int id, int result);

// report_line of message `id` filled with one text argument ("%s").
void report_message(int id, const char* arg);

// Writes one finished line to the log file (log_path set) or standard output.
void emit_line(const char* line);
// Whether the log file at `path` opens as every line will open it: created
// when missing, kept with its content when present.
bool probe_log_file(const char* path);

// A group as a termination block: the start line now, the finish line with
// `result` as it stands when the scope is left.
class GroupGuard {
 public:
  explicit GroupGuard(int id) : id_(id) { begin_group(id_); }
  ~GroupGuard() { end_group(id_, result); }
  GroupGuard(const GroupGuard&) = delete;
  GroupGuard& operator=(const GroupGuard&) = delete;

  int result = 0;

 private:
  int id_;
};

#endif
