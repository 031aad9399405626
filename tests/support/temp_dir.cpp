// Test support: TempDir.
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>

#include "platform/win32.h"

#ifdef _WIN32
#include <atomic>
#else
#include <stdlib.h>
#endif

namespace fs = std::filesystem;

TempDir::TempDir() {
#ifdef _WIN32
  char base[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) return;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[MAX_PATH + 64];
    snprintf(name, sizeof name, "%szarn-%lu-%u-%lu", base, GetCurrentProcessId(), counter++,
             GetTickCount());
    if (CreateDirectoryA(name, nullptr)) {
      path_ = name;
      return;
    }
  }
#else
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/zarn-XXXXXX";
  if (mkdtemp(&templ[0])) path_ = templ;
#endif
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Read-only entries (the tests make some) would stop the removal on Windows.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
  return path_ + ZARN_PATH_SEPARATOR + name;
}

std::vector<std::string> TempDir::entries() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(path_, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
