// Security attributes that give every account full access: a descriptor
// with a present but null DACL.  Check files and synchronisation files are
// created with them so that any host's account can open, lock and delete.
#ifndef ZARN_FILEOPS_NULL_DACL_H
#define ZARN_FILEOPS_NULL_DACL_H

#include "platform/win32.h"

struct NullDaclAttributes {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;  // points at `descriptor`: do not copy the record
};

// Built anew for each open; the results of the two descriptor calls are not
// looked at (a descriptor that failed to build still yields a valid open).
void init_null_dacl(NullDaclAttributes* out);

#endif
