// Test support: is this Windows build running under Wine?  The conformance
// tests keep the Windows expectation and name each known Wine deviation.
#ifndef ZARN_TESTS_SUPPORT_WINE_H
#define ZARN_TESTS_SUPPORT_WINE_H

#include "platform/win32.h"

inline bool running_under_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#endif
