// single_cleanup on prepared slots.
#include <algorithm>

#include <gtest/gtest.h>

#include "base/process_end.h"
#include "single/check_slots.h"
#include "support/report_capture.h"
#include "support/temp_dir.h"

namespace {

TEST(CheckSlots, CleanupClosesOnceDeletesAndKeepsAFileStillOpenElsewhere) {
  TempDir dir, logs;
  ReportCapture report(logs.file("report.log"));  // kept outside the folder under test
  reset_process_end();
  for (CheckFileSlot& slot : check_slots) prepare_slot(&slot);
  auto deleted = [](const std::string& name) { return "        The file was deleted. (" + name + ")\r\n"; };
  const std::string own = dir.file("own"), held = dir.file("held");
  HANDLE handle = slot_open(&check_slots[0].own_handle, own.c_str(), OPEN_ALWAYS);
  HANDLE elsewhere;  // opened, as every check file, without delete sharing
  ASSERT_NE(INVALID_HANDLE_VALUE, slot_open(&elsewhere, held.c_str(), OPEN_ALWAYS));
  slot_set_name(check_slots[0].own_file_name, own.c_str());
  slot_set_name(check_slots[1].own_file_name, held.c_str());

  single_cleanup(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[0].own_handle);
  EXPECT_FALSE(CloseHandle(handle)) << "the clean-up left the handle open";
  EXPECT_STREQ("", check_slots[0].own_file_name);
  EXPECT_EQ(std::vector<std::string>{"held"}, dir.entries());
  const std::string refused = "        ! Failed to delete the file in the path to be checked. "
                              "ERRORCODE=32(";  // then the system's text
  const std::string first = report.text();
  EXPECT_EQ(deleted(own) + refused, first.substr(0, deleted(own).size() + refused.size()));
  EXPECT_EQ(2, std::count(first.begin(), first.end(), '\n')) << first;  // one line for it

  ASSERT_TRUE(CloseHandle(elsewhere));
  single_cleanup(0);  // every pass covers both slots
  EXPECT_TRUE(dir.entries().empty());
  EXPECT_EQ(first + deleted(held), report.text());
  single_cleanup(0);  // both gone already: nothing to say
  EXPECT_EQ(first + deleted(held), report.text());
}

}  // namespace
