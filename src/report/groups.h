// The report's own record of the run: the groups as they open and finish,
// each with its result and its error lines, and the stack of the groups
// open now, whose depth indents the text lines.  The text report and the
// JSON report are both made from it.  Only the printing thread (the one
// whose output_enabled is set) changes it.
#ifndef ZARN_REPORT_GROUPS_H
#define ZARN_REPORT_GROUPS_H

#include <stdint.h>

struct ReportGroup {
  int32_t id;      // MessageId of the heading; 0 for a heading given as text
  int32_t parent;  // index of the enclosing group, -1 at the top
  int32_t result;  // TestResult at its finish line
  int32_t open;    // non-zero until its finish line
};

struct ReportErrorLine {
  int32_t group;  // index of the group open when it was printed
  int32_t code;   // ErrorCode
  int32_t system_error;
  int32_t marked;  // "!": report_error, not report_error_plain
  char system_text[256];  // the system's text in English where it has one
};

// The printing thread's changes.  Each returns the indentation depth of
// the line it goes with.  Once the report is frozen, the thread that would
// change it waits there for the end of the process.
int32_t push_group(int32_t id);
int32_t pop_group(int32_t result);
void record_error_line(int32_t code, int32_t system_error, bool marked, const char* system_text);

// An interrupt's first step: from here on the record does not change; waits
// for a change under way, never for a line being printed.
void freeze_report();

// The record, for the JSON report: read by the printing thread itself, or
// once the report is frozen.  Groups in the order they began.
int32_t report_group_count();
const ReportGroup* report_group(int32_t index);
int32_t report_error_count();
const ReportErrorLine* report_error_line(int32_t index);

#endif
