// The command line: options into RunOptions, or the usage text.
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "driver/driver.h"

const char usage_text[] =
    "usage:\r\n"
    "zarntwchk -m single -p targetpath -h zarsharepath [-o logfile] [-j jsonfile] [-t timeout]\r\n"
    "zarntwchk -m double -p targetpath -h zarsharepath [-o logfile] [-j jsonfile] [-t timeout]\r\n"
    "zarntwchk -m userapl -f targetfile [-o logfile] [-j jsonfile] [-t timeout]";

namespace {

int usage_error() {
  fputs(usage_text, stderr);
  fflush(stderr);
  return -1;
}

// atoi as the runtime does it: leading white space, a sign, digits up to the
// first non-digit (none gives 0), clamped to the range of a 32-bit integer.
int32_t to_int32(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

// -p, -h, -f, -o, -j: a repetition is known by the field already holding text.
bool set_path(char* field, const char* value) {
  if (field[0] != '\0' || strlen(value) > kMaxPathChars) return false;
  memcpy(field, value, strlen(value) + 1);
  return true;
}

bool set_mode(RunOptions* options, const char* value) {
  if (options->mode != 0) return false;
  if (strcmp(value, "single") == 0) {
    options->mode = kModeSingle;
  } else if (strcmp(value, "double") == 0) {
    options->mode = kModeDouble;
  } else if (strcmp(value, "userapl") == 0) {
    options->mode = kModeUserApl;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int parse_command_line(int argc, char** argv, RunOptions* options) {
  const char* timeout = nullptr;
  for (int i = 1; i < argc; i += 2) {
    const char* option = argv[i];
    if (option[0] != '-' || option[1] == '\0' || option[2] != '\0') return usage_error();
    if (i + 1 >= argc) return usage_error();
    const char* value = argv[i + 1];
    bool accepted = false;
    switch (option[1]) {
      case 'm': accepted = set_mode(options, value); break;
      case 'p': accepted = set_path(options->target_path, value); break;
      case 'h': accepted = set_path(options->share_path, value); break;
      case 'f': accepted = set_path(options->target_file, value); break;
      case 'o': accepted = set_path(options->log_file, value); break;
      case 'j': accepted = set_path(options->json_file, value); break;
      case 't':
        accepted = timeout == nullptr;
        if (accepted) timeout = value;
        break;
      default: break;
    }
    if (!accepted) return usage_error();
  }

  if (options->mode == 0) return usage_error();
  if (options->mode == kModeUserApl) {
    if (options->target_file[0] == '\0' || options->share_path[0] != '\0' ||
        options->target_path[0] != '\0') {
      return usage_error();
    }
  } else if (options->share_path[0] == '\0' || options->target_path[0] == '\0' ||
             options->target_file[0] != '\0') {
    return usage_error();
  }

  options->timeout_sec = timeout == nullptr ? 30 : to_int32(timeout);
  if (options->timeout_sec < 10 || options->timeout_sec > 600) return usage_error();
  return 0;
}
