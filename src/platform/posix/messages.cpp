// POSIX layer: FormatMessageA for the error numbers the layer produces.
//
// The texts are the layer's own.  Each is stored as the system stores its
// texts, ending in a line break; the maximum-width flag turns that break into
// a blank, so the text fits on one report line.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "platform/posix/threads.h"

using namespace zarn_posix;

namespace {

constexpr DWORD kErrorMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

struct Text {
  DWORD number;
  const char* text;
};

constexpr Text kTexts[] = {
    {0, "Success.\r\n"},
    {1, "This operation is not valid for the object.\r\n"},
    {2, "The named file does not exist.\r\n"},
    {3, "A folder on the path does not exist.\r\n"},
    {4, "Too many files are open in this process.\r\n"},
    {5, "Access was refused.\r\n"},
    {6, "Not a valid handle.\r\n"},
    {8, "Out of memory.\r\n"},
    {14, "Not enough storage for this operation.\r\n"},
    {19, "The volume is read-only.\r\n"},
    {31, "A device or input/output failure occurred.\r\n"},
    {32, "The file is open elsewhere with sharing that refuses this access.\r\n"},
    {33, "Part of the file is locked by another holder.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {50, "This request is not supported.\r\n"},
    {80, "A file of that name already exists.\r\n"},
    {87, "An argument is not valid.\r\n"},
    {111, "The name does not fit the buffer.\r\n"},
    {112, "The volume has no free space left.\r\n"},
    {122, "The buffer is too small for the data.\r\n"},
    {123, "The name has a form that is not allowed.\r\n"},
    {158, "That range is not locked by this handle.\r\n"},
    {183, "An object of that name already exists.\r\n"},
    {206, "The name or the path is too long.\r\n"},
    {234, "More data is available than the buffer holds.\r\n"},
    {317, "No text exists for this message number.\r\n"},
    {487, "The address was not given out by the memory allocator.\r\n"},
    {995, "The request was cancelled.\r\n"},
    {996, "The request has not completed yet.\r\n"},
    {997, "The request is in progress.\r\n"},
    {998, "An address given is not accessible.\r\n"},
    {1168, "Nothing matching was found.\r\n"},
};

const char* find_text(DWORD number) {
  for (const Text& t : kTexts) {
    if (t.number == number) return t.text;
  }
  return nullptr;
}

// Any width but 0 is taken as the maximum-width flag: the text's line breaks
// become blanks, and no breaks are added (lines are never wrapped).
std::string shape(const char* text, DWORD flags) {
  std::string out;
  bool one_line = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0;
  for (const char* p = text; *p; ++p) {
    if (one_line && p[0] == '\r' && p[1] == '\n') {
      out += ' ';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

// Only FORMAT_MESSAGE_FROM_SYSTEM; the texts have no inserts, so
// FORMAT_MESSAGE_IGNORE_INSERTS changes nothing and arguments are not read.
// Every language gets the same texts.
DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD message_id, DWORD, LPSTR buffer, DWORD size,
                     void*) {
  checkpoint();
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = find_text(message_id);
  if (text == nullptr) {
    SetLastError(kErrorMessageNotFound);
    return 0;
  }
  std::string out = shape(text, flags);
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // `buffer` is where the address of the new block goes; `size` its least size.
    size_t bytes = out.size() + 1 > size ? out.size() + 1 : size;
    char* block = static_cast<char*>(calloc(bytes, 1));
    if (block == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    memcpy(block, out.c_str(), out.size() + 1);
    *reinterpret_cast<char**>(buffer) = block;
  } else {
    if (out.size() + 1 > size) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    memcpy(buffer, out.c_str(), out.size() + 1);
  }
  return static_cast<DWORD>(out.size());
}

// Frees what FormatMessageA allocated; returns NULL as on success.
HLOCAL LocalFree(HLOCAL mem) {
  checkpoint();
  free(mem);
  return nullptr;
}
