// Test support: the report lines of one thread captured in a file.
#ifndef ZARN_TESTS_SUPPORT_REPORT_CAPTURE_H
#define ZARN_TESTS_SUPPORT_REPORT_CAPTURE_H

#include <cstdio>
#include <string>

#include "report/report.h"
#include "support/child.h"

// Report lines of this thread go to `path` while it lives.
struct ReportCapture {
  explicit ReportCapture(const std::string& file) : path(file) {
    std::snprintf(log_path, sizeof(log_path), "%s", file.c_str());
    output_enabled = 1;
  }
  ~ReportCapture() { output_enabled = 0, log_path[0] = '\0'; }
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;
  // What was printed, "-" when nothing was.
  std::string text() const { return read_file(path); }
  const std::string path;
};

#endif
