// POSIX layer: last error, process id, locale, host name, memory, security
// descriptors.
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/posix/threads.h"

using namespace zarn_posix;

namespace {

thread_local DWORD last_error = 0;

// Windows: an address that VirtualAlloc did not return.
constexpr DWORD kErrorInvalidAddress = 487;

// Mapped blocks and their lengths, for VirtualFree.
std::mutex& blocks_mutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::unordered_map<void*, size_t>& blocks() {
  static auto* b = new std::unordered_map<void*, size_t>();
  return *b;
}

bool names_japanese(const char* locale) {
  if (locale[0] != 'j' || locale[1] != 'a') return false;
  char next = locale[2];
  return next == '\0' || next == '_' || next == '.' || next == '@' || next == '-';
}

}  // namespace

// No checkpoint in these two: the layer calls them while holding its locks.
DWORD GetLastError(void) { return last_error; }
void SetLastError(DWORD error) { last_error = error; }

DWORD GetCurrentProcessId(void) {
  checkpoint();
  return static_cast<DWORD>(getpid());
}

// The process locale as POSIX orders it for messages: LC_ALL, LC_MESSAGES,
// LANG, the first that is set and not empty.
LCID GetSystemDefaultLCID(void) {
  checkpoint();
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0') return names_japanese(value) ? 1041 : 1033;
  }
  return 1033;
}

// gethostname() only: it never waits for a name server.  The DNS formats give
// the whole name or its parts; the NetBIOS formats its first label in capitals,
// at most 15 characters.
BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, LPSTR buffer, LPDWORD size) {
  checkpoint();
  if (size == nullptr || format < ComputerNameNetBIOS ||
      format > ComputerNamePhysicalDnsFullyQualified) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::string full = host;
  size_t dot = full.find('.');
  std::string label = full.substr(0, dot);
  std::string domain = dot == std::string::npos ? std::string() : full.substr(dot + 1);
  std::string name;
  switch (format) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS:
      name = label.substr(0, 15);
      for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      break;
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
      name = label;
      break;
    case ComputerNameDnsDomain:
    case ComputerNamePhysicalDnsDomain:
      name = domain;
      break;
    default:
      name = full;
      break;
  }
  if (buffer == nullptr || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}

// Only what the tool asks for: a fresh read-write block, zero-filled.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocation_type, DWORD protect) {
  checkpoint();
  if (address != nullptr || size == 0 || protect != PAGE_READWRITE ||
      allocation_type != (MEM_RESERVE | MEM_COMMIT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(blocks_mutex());
  blocks()[p] = size;
  return p;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD free_type) {
  checkpoint();
  if (free_type != MEM_RELEASE || size != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t length = 0;
  {
    std::lock_guard<std::mutex> hold(blocks_mutex());
    auto it = blocks().find(address);
    if (it == blocks().end()) {
      SetLastError(kErrorInvalidAddress);
      return FALSE;
    }
    length = it->second;
    blocks().erase(it);
  }
  munmap(address, length);
  return TRUE;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
  checkpoint();
  if (sd == nullptr || revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  *d = SECURITY_DESCRIPTOR{};
  d->Revision = static_cast<BYTE>(revision);
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL defaulted) {
  checkpoint();
  if (sd == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  d->DaclPresent = present ? 1 : 0;
  d->Dacl = dacl;
  d->DaclDefaulted = defaulted ? 1 : 0;
  return TRUE;
}
