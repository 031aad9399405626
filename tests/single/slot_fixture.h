// Shared by the single-host tests: resource_lock, clean slots, and the
// report lines captured in a log file of their own.
#ifndef ZARN_TESTS_SINGLE_SLOT_FIXTURE_H
#define ZARN_TESTS_SINGLE_SLOT_FIXTURE_H

#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "driver/run_options.h"
#include "fileops/fileops.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/slot_ops.h"
#include "support/temp_dir.h"

inline std::string read_whole_file(const std::string& path) {
  std::string content;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return content;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  fclose(f);
  return content;
}

// The system's text for an error number, as the error lines show it.
inline std::string system_text(DWORD error) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, error, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&buffer), 0,
                           nullptr);
  std::string text = n != 0 && buffer != nullptr ? std::string(buffer) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  return text;
}

class SlotTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool initialised = false;
    if (!initialised) InitializeCriticalSection(&resource_lock);
    initialised = true;
  }
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_FALSE(log_dir_.path().empty());
    log_ = log_dir_.file("report.log");
    strcpy(log_path, log_.c_str());
    output_enabled = 1;
    nesting_level = 0;
    interrupt_count = 0;
    process_ending = false;
    prepare_slot(0);
    prepare_slot(1);
  }
  void TearDown() override {
    for (CheckFileSlot& slot : check_slots) {
      close_handle(&slot.own_handle);
      close_handle(&slot.partner_handle);
    }
    prepare_slot(0);
    prepare_slot(1);
    log_path[0] = '\0';
    output_enabled = 0;
  }

  HANDLE open_file(const std::string& name) {
    return open_test_file(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  }
  void set_name(int slot, const std::string& name) {
    strcpy(check_slots[slot].own_file_name, name.c_str());
  }
  std::string log() const { return read_whole_file(log_); }
  static std::string deleted_line(const std::string& name) {
    return "        The file was deleted. (" + name + ")\r\n";
  }

  TempDir dir_;      // the folder under test
  TempDir log_dir_;  // kept apart, so that the folder under test holds only check files
  std::string log_;
};

#endif
