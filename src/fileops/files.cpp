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

namespace {

#ifdef _WIN32
// A handle opened with FILE_FLAG_OPEN_REPARSE_POINT on a plain file: not a
// link, junction or other reparse point, not a folder, not a device or pipe.
bool is_plain_file(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}
#endif

}  // namespace

HANDLE open_plain_file(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  NullDaclAttributes security;
  init_null_dacl(&security);
  HANDLE file = CreateFileA(name, access, share, &security.attributes, disposition,
                            flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
#ifdef _WIN32
  // Windows opens a link itself, never what it leads to; a name that is not
  // a plain file is refused as a folder opened as a file is.  The POSIX layer
  // refuses it in CreateFileA already.
  if (file != INVALID_HANDLE_VALUE) {
    const DWORD opened = GetLastError();  // ERROR_ALREADY_EXISTS for the callers
    if (!is_plain_file(file)) {
      CloseHandle(file);
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    SetLastError(opened);
  }
#endif
  return file;
}

HANDLE open_test_file(const char* name, DWORD access, DWORD share, DWORD disposition) {
  return open_plain_file(name, access, share, disposition, FILE_FLAG_OVERLAPPED);
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
