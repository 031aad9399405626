// Opening and closing check files, the null DACL, deletions made at once.
#include <string.h>

#include "fileops/fileops.h"

void init_null_dacl(NullDaclAttributes* out) {
  InitializeSecurityDescriptor(&out->descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&out->descriptor, TRUE, nullptr, FALSE);
  out->attributes.nLength = sizeof(out->attributes);
  out->attributes.lpSecurityDescriptor = &out->descriptor;
  out->attributes.bInheritHandle = FALSE;
}

HANDLE open_test_file(const char* name, DWORD access, DWORD share, DWORD disposition) {
  NullDaclAttributes security;
  init_null_dacl(&security);
  return CreateFileA(name, access, share, &security.attributes, disposition, FILE_FLAG_OVERLAPPED,
                     nullptr);
}

int close_handle(HANDLE* file) {
  if (*file == INVALID_HANDLE_VALUE) return kOpFailed;
  if (!CloseHandle(*file)) return kOpFailed;
  *file = INVALID_HANDLE_VALUE;
  return kOpOk;
}

namespace {

DWORD WINAPI delete_one(LPVOID param) {
  auto* deletion = static_cast<Deletion*>(param);
  deletion->went = DeleteFileA(deletion->name);
  deletion->error = deletion->went ? 0 : GetLastError();
  return 0;
}

}  // namespace

void start_deletion(DeletionBatch* batch, const char* name) {
  for (int i = 0; i < batch->count; ++i) {
    if (strcmp(batch->deletions[i].name, name) == 0) return;
  }
  if (batch->count == 4) return;
  Deletion* deletion = &batch->deletions[batch->count++];
  *deletion = Deletion{};
  memcpy(deletion->name, name, strnlen(name, sizeof deletion->name - 1));
  deletion->thread = CreateThread(nullptr, 0, delete_one, deletion, 0, nullptr);
  if (deletion->thread == nullptr) delete_one(deletion);
}

void finish_deletions(DeletionBatch* batch) {
  for (int i = 0; i < batch->count; ++i) {
    Deletion& deletion = batch->deletions[i];
    if (deletion.thread == nullptr) continue;
    WaitForSingleObject(deletion.thread, INFINITE);
    CloseHandle(deletion.thread);
    deletion.thread = nullptr;
  }
}
