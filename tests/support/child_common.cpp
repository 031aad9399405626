// Test support: the scenario registry, the test binaries' main, hand-shake files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "support/child.h"

namespace {

std::map<std::string, ChildScenario>& scenarios() {
  static std::map<std::string, ChildScenario> m;
  return m;
}

}  // namespace

bool register_child(const char* name, ChildScenario scenario) {
  scenarios()[name] = scenario;
  return true;
}

// The main of every test binary: the scenario named by `--zarn-child <name>
// args...`, else all tests.
int main(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "--zarn-child") {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  auto it = scenarios().find(argv[2]);
  if (it != scenarios().end()) return it->second(std::vector<std::string>(argv + 3, argv + argc));
  std::fprintf(stderr, "unknown child scenario: %s\n", argv[2]);
  return 125;
}

bool wait_for_file(const std::string& path, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::error_code ec;  // existence only: the file may be open without sharing
    if (std::filesystem::exists(path, ec)) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void touch_file(const std::string& path) {
  if (std::FILE* f = std::fopen(path.c_str(), "ab")) std::fclose(f);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : "-";
}
