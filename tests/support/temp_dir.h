// Test support: a fresh folder that is removed with everything in it.
#ifndef ZARN_TESTS_SUPPORT_TEMP_DIR_H
#define ZARN_TESTS_SUPPORT_TEMP_DIR_H

#include <string>
#include <vector>

struct TempDir {
  // Under the system's temporary folder; path() is empty when none could be made.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + ZARN_PATH_SEPARATOR + name.
  std::string file(const std::string& name) const;
  // Names inside the folder, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

#endif
