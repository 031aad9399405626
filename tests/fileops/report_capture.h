// Report lines of the test's thread, sent to a log file in a temporary folder.
#ifndef ZARN_TESTS_FILEOPS_REPORT_CAPTURE_H
#define ZARN_TESTS_FILEOPS_REPORT_CAPTURE_H

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "report/report.h"

class ReportCapture {
 public:
  explicit ReportCapture(const std::string& path) : path_(path) {
    std::snprintf(log_path, sizeof(log_path), "%s", path.c_str());
    output_enabled = 1;
  }
  ~ReportCapture() {
    output_enabled = 0;
    log_path[0] = '\0';
  }
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  // Everything printed so far.
  std::string text() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  std::string path_;
};

#endif
