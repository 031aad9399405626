// The JSON writer: escapes, UTF-8, numbers and times made by hand, as
// nothing of the runtime that might allocate or take a lock may run here.
#include "report/json_writer.h"

#include <string.h>

void JsonWriter::put(const char* bytes, size_t size) {
  while (size > 0) {
    if (used_ == sizeof buffer_ && !flush()) return;
    size_t n = sizeof buffer_ - used_;
    if (n > size) n = size;
    memcpy(buffer_ + used_, bytes, n);
    used_ += n;
    bytes += n;
    size -= n;
  }
}

bool JsonWriter::flush() {
  if (used_ > 0 && !failed_) {
    DWORD written = 0;
    failed_ = !WriteFile(file_, buffer_, static_cast<DWORD>(used_), &written, nullptr) ||
              written != used_;
  }
  used_ = 0;
  return !failed_;
}

void JsonWriter::raw(const char* text) { put(text, strlen(text)); }

void JsonWriter::key(const char* name, bool first) {
  if (!first) raw(",");
  string(name);
  raw(":");
}

void JsonWriter::element(bool* first) {
  if (!*first) raw(",");
  *first = false;
}

void JsonWriter::number(int64_t value) {
  char digits[24];
  size_t n = sizeof digits;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[--n] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--n] = '-';
  put(digits + n, sizeof digits - n);
}

void JsonWriter::code_point(uint32_t c) {
  char out[6];
  size_t n = 0;
  if (c == '"' || c == '\\') {
    out[n++] = '\\';
    out[n++] = static_cast<char>(c);
  } else if (c < 0x20) {
    const char* hex = "0123456789abcdef";
    memcpy(out, "\\u00", 4);
    out[4] = hex[c >> 4];
    out[5] = hex[c & 15];
    n = 6;
  } else if (c < 0x80) {
    out[n++] = static_cast<char>(c);
  } else if (c < 0x800) {
    out[n++] = static_cast<char>(0xC0 | c >> 6);
    out[n++] = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out[n++] = static_cast<char>(0xE0 | c >> 12);
    out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[n++] = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out[n++] = static_cast<char>(0xF0 | c >> 18);
    out[n++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[n++] = static_cast<char>(0x80 | (c & 0x3F));
  }
  put(out, n);
}

#ifdef _WIN32

// The ANSI code page (932 on a Japanese system) through UTF-16.
void JsonWriter::string(const char* text) {
  if (text == nullptr) return raw("null");
  wchar_t wide[1100];
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, sizeof wide / sizeof wide[0]);
  raw("\"");
  for (int i = 0; i + 1 < n; ++i) {
    uint32_t c = static_cast<uint16_t>(wide[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 2 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(wide[++i]) - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    code_point(c);
  }
  if (n == 0) {  // too long or not convertible: its ASCII, the rest marked
    for (const char* p = text; *p != '\0'; ++p) {
      code_point(static_cast<unsigned char>(*p) < 0x80 ? static_cast<unsigned char>(*p) : 0xFFFD);
    }
  }
  raw("\"");
}

#else

// The ANSI code page of a POSIX system is UTF-8: kept where it is valid,
// each byte that is not marked with U+FFFD.
void JsonWriter::string(const char* text) {
  if (text == nullptr) return raw("null");
  raw("\"");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    uint32_t c = *p;
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    uint32_t value = more == 1 ? c & 0x1F : more == 2 ? c & 0x0F : c & 0x07;
    int i = 1;
    for (; more > 0 && i <= more && (p[i] & 0xC0) == 0x80; ++i) value = value << 6 | (p[i] & 0x3F);
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (more == 0) {
      code_point(c);
      ++p;
    } else if (more > 0 && i == more + 1 && value >= kLeast[more] && value <= 0x10FFFF &&
               (value < 0xD800 || value >= 0xE000)) {
      code_point(value);
      p += i;
    } else {
      code_point(0xFFFD);
      ++p;
    }
  }
  raw("\"");
}

#endif

// Days since 1970-01-01 to the civil date (the proleptic Gregorian calendar).
void JsonWriter::utc_time(time_t seconds) {
  int64_t s = static_cast<int64_t>(seconds);
  int64_t days = s / 86400;
  int64_t rest = s % 86400;
  if (rest < 0) rest += 86400, --days;
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const int64_t fields[] = {year, month, day, rest / 3600, rest / 60 % 60, rest % 60};
  const char* separators = "--T::Z";
  char text[32];
  size_t n = 0;
  text[n++] = '"';
  for (int f = 0; f < 6; ++f) {
    const int width = f == 0 ? 4 : 2;
    int64_t v = fields[f];
    for (int d = width - 1; d >= 0; --d) {
      text[n + d] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    n += width;
    text[n++] = separators[f];
  }
  text[n++] = '"';
  put(text, n);
}
