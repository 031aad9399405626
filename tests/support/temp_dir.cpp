// Test support: TempDir.
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "platform/win32.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  for (int attempt = 0; !ec && attempt < 1000; ++attempt) {
    fs::path p = base / ("zarn-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
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
