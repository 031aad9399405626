// Helpers of the file, share-mode and lock conformance tests.
#include "file_test_util.h"

#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/stat.h>
#endif

bool on_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
#else
  return false;
#endif
}

HANDLE open_file(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                 bool overlapped) {
  return CreateFileA(path.c_str(), access, share, NULL, disposition,
                     overlapped ? FILE_FLAG_OVERLAPPED : FILE_ATTRIBUTE_NORMAL, NULL);
}

OVERLAPPED record_at(uint64_t offset, HANDLE event) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  ov.hEvent = event;
  return ov;
}

DWORD last_error_of(BOOL ok) { return ok ? 0 : GetLastError(); }

DWORD lock_range(HANDLE file, uint64_t offset, bool exclusive, bool fail_immediately,
                 uint64_t length, OVERLAPPED* ov) {
  OVERLAPPED local = record_at(offset);
  if (!ov) {
    ov = &local;
  } else {
    ov->Offset = local.Offset;
    ov->OffsetHigh = local.OffsetHigh;
  }
  DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (fail_immediately ? LOCKFILE_FAIL_IMMEDIATELY : 0);
  return last_error_of(LockFileEx(file, flags, 0, static_cast<DWORD>(length),
                                  static_cast<DWORD>(length >> 32), ov));
}

DWORD unlock_range(HANDLE file, uint64_t offset, uint64_t length) {
  OVERLAPPED ov = record_at(offset);
  return last_error_of(
      UnlockFileEx(file, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov));
}

void set_read_only(const std::string& path, bool read_only) {
#ifdef _WIN32
  SetFileAttributesA(path.c_str(), read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
  chmod(path.c_str(), read_only ? 0444 : 0644);
#endif
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
