#include "fileops/null_dacl.h"

void init_null_dacl(NullDaclAttributes* out) {
  InitializeSecurityDescriptor(&out->descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&out->descriptor, TRUE, nullptr, FALSE);
  out->attributes.nLength = sizeof(out->attributes);
  out->attributes.lpSecurityDescriptor = &out->descriptor;
  out->attributes.bInheritHandle = FALSE;
}
