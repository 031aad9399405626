// Test support: whether the tests run under Wine, where they expect Wine's
// known deviations from Windows by name.
#ifndef ZARN_TESTS_SUPPORT_WINE_H
#define ZARN_TESTS_SUPPORT_WINE_H

#include "platform/win32.h"

inline bool on_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
#else
  return false;
#endif
}

#endif
