// Captures what a call writes to standard error (the usage text and the
// validation messages go there).
#ifndef ZARN_TESTS_DRIVER_CAPTURE_H
#define ZARN_TESTS_DRIVER_CAPTURE_H

#include <stdio.h>

#include <string>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

template <class F>
std::string capture_stderr(const std::string& file, F call) {
  fflush(stderr);
  int saved = dup(fileno(stderr));
  FILE* sink = fopen(file.c_str(), "wb");
  if (sink == nullptr) return "(no capture file)";
  dup2(fileno(sink), fileno(stderr));
  call();
  fflush(stderr);
  dup2(saved, fileno(stderr));
  close(saved);
  fclose(sink);
  std::string text;
  FILE* f = fopen(file.c_str(), "rb");
  char buffer[4096];
  size_t n;
  while (f != nullptr && (n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  if (f != nullptr) fclose(f);
  return text;
}

#endif
