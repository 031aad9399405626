// Writing one JSON document to an open file through a fixed buffer: no
// allocation, so that an interrupt can write it while the working threads
// may be suspended inside the allocator.  Texts are taken as the tool holds
// them, bytes of the ANSI code page, and written as UTF-8.
#ifndef ZARN_REPORT_JSON_WRITER_H
#define ZARN_REPORT_JSON_WRITER_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "platform/win32.h"

class JsonWriter {
 public:
  explicit JsonWriter(HANDLE file) : file_(file) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // Punctuation and names, written as they are.
  void raw(const char* text);
  // "name": as a member name, with the comma before it unless first.
  void key(const char* name, bool first = false);
  // The comma before an element of an array unless `*first`, which it clears.
  void element(bool* first);
  void string(const char* ansi_text);  // a JSON string, or null for nullptr
  void number(int64_t value);
  void boolean(bool value) { raw(value ? "true" : "false"); }
  void utc_time(time_t seconds);  // "YYYY-MM-DDTHH:MM:SSZ"
  // Writes what is buffered; whether every write so far succeeded.
  bool flush();

 private:
  void put(const char* bytes, size_t size);
  void code_point(uint32_t c);

  HANDLE file_;
  char buffer_[4096];
  size_t used_ = 0;
  bool failed_ = false;
};

#endif
