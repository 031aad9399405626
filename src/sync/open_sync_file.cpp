#include "fileops/fileops.h"
#include "sync/sync.h"

HANDLE open_sync_file(const char* name) {
  NullDaclAttributes security;
  init_null_dacl(&security);
  // Not overlapped: every lock on the master file answers at once.  No delete
  // sharing: nobody deletes the master file while another party has it open.
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &security.attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
