// Whether the Windows build runs under Wine, whose lock behaviour differs
// from Windows in named ways (TESTBED.md): a waiting LockFileEx never
// completes while its zeroed record reads as done, and UnlockFileEx of a
// range not held answers 33 instead of 158.
#ifndef ZARN_TESTS_FILEOPS_UNDER_WINE_H
#define ZARN_TESTS_FILEOPS_UNDER_WINE_H

#include "platform/win32.h"

inline bool under_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#endif
