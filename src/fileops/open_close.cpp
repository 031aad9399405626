// Opening a check file and closing a handle variable.
#include "fileops/fileops.h"
#include "fileops/null_dacl.h"

HANDLE open_test_file(const char* name, DWORD access, DWORD share, DWORD disposition) {
  NullDaclAttributes security;
  init_null_dacl(&security);
  // Overlapped, so that a lock, read or write that does not complete at once
  // can be waited for under the time limit instead of blocking the thread.
  return CreateFileA(name, access, share, &security.attributes, disposition, FILE_FLAG_OVERLAPPED,
                     nullptr);
}

int close_handle(HANDLE* file) {
  if (*file == INVALID_HANDLE_VALUE) return kOpFailed;
  if (!CloseHandle(*file)) return kOpFailed;
  *file = INVALID_HANDLE_VALUE;
  return kOpOk;
}
