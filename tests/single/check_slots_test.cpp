// single_cleanup and single_ctrl_handler on prepared slots.
#include <algorithm>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/process_end.h"
#include "single/check_slots.h"
#include "single/single_check.h"
#include "support/report_capture.h"
#include "support/temp_dir.h"

namespace {

class SlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty() || logs_.path().empty());
    interrupt_count = 0;
    reset_process_end();
    for (CheckFileSlot& slot : check_slots) prepare_slot(&slot);
  }
  void TearDown() override {
    ResourceLockHold hold;
    for (CheckFileSlot& slot : check_slots) release_slot_handles(&slot);
  }
  static std::string deleted(const std::string& name) {
    return "        The file was deleted. (" + name + ")\r\n";
  }
  static BOOL interrupt() {  // on a thread of its own, as the system calls a handler
    BOOL answer = TRUE;
    std::thread([&] { answer = single_ctrl_handler(CTRL_C_EVENT); }).join();
    return answer;
  }

  TempDir dir_, logs_;
  ReportCapture report_{logs_.file("report.log")};  // kept outside the folder under test
};

TEST_F(SlotTest, CleanupClosesOnceDeletesAndKeepsAFileStillOpenElsewhere) {
  const std::string own = dir_.file("own"), held = dir_.file("held");
  HANDLE handle = slot_open(&check_slots[0].own_handle, own.c_str(), OPEN_ALWAYS);
  HANDLE elsewhere;  // opened, as every check file, without delete sharing
  ASSERT_NE(INVALID_HANDLE_VALUE, slot_open(&elsewhere, held.c_str(), OPEN_ALWAYS));
  slot_set_name(check_slots[0].own_file_name, own.c_str());
  slot_set_name(check_slots[1].own_file_name, held.c_str());

  single_cleanup(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[0].own_handle);
  EXPECT_FALSE(CloseHandle(handle)) << "the clean-up left the handle open";
  EXPECT_STREQ("", check_slots[0].own_file_name);
  EXPECT_EQ(std::vector<std::string>{"held"}, dir_.entries());
  const std::string refused = "        ! Failed to delete the file in the path to be checked. "
                              "ERRORCODE=32(";  // then the system's text
  const std::string first = report_.text();
  EXPECT_EQ(deleted(own) + refused, first.substr(0, deleted(own).size() + refused.size()));
  EXPECT_EQ(2, std::count(first.begin(), first.end(), '\n')) << first;  // one line for it

  ASSERT_TRUE(CloseHandle(elsewhere));
  single_cleanup(0);  // every pass covers both slots
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_EQ(first + deleted(held), report_.text());
  single_cleanup(0);  // both gone already: nothing to say
  EXPECT_EQ(first + deleted(held), report_.text());
}

// Both participants of the paired lock sequence: own file, partner's file, sync record.
TEST_F(SlotTest, HandlerCleansBothParticipantsAndDoesNothingOnAThirdCall) {
  SyncState* records[2] = {nullptr, nullptr};
  std::thread first([&] { records[0] = sync_setup(kModeSingle, dir_.path().c_str(), 10); });
  std::thread second([&] { records[1] = sync_setup(kModeSingle, dir_.path().c_str(), 10); });
  first.join();
  second.join();
  ASSERT_TRUE(records[0] != nullptr && records[1] != nullptr);
  const std::string names[2] = {dir_.file("f0"), dir_.file("f1")};
  for (int i = 0; i < 2; ++i) {
    slot_open(&check_slots[i].own_handle, names[i].c_str(), OPEN_ALWAYS);
    slot_open(&check_slots[i].partner_handle, names[1 - i].c_str(), OPEN_ALWAYS);
    slot_set_name(check_slots[i].own_file_name, names[i].c_str());
    check_slots[records[i]->role].sync_state = records[i];
  }
  ASSERT_EQ(3u, dir_.entries().size());  // the master file and both check files

  EXPECT_FALSE(interrupt());
  EXPECT_FALSE(interrupt());
  EXPECT_EQ(2u, interrupt_count);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[i].own_handle);
    EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[i].partner_handle);
    EXPECT_STREQ("", check_slots[i].own_file_name);
    EXPECT_EQ(nullptr, check_slots[i].sync_state);
    EXPECT_TRUE(records[i]->torn_down);
  }
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_EQ("-", report_.text()) << "the handler's thread printed";  // "-": no log at all

  ASSERT_TRUE(std::ofstream(dir_.file("later")).good());
  slot_set_name(check_slots[0].own_file_name, dir_.file("later").c_str());
  EXPECT_FALSE(interrupt());
  EXPECT_EQ(2u, interrupt_count);
  EXPECT_EQ(std::vector<std::string>{"later"}, dir_.entries());
  for (SyncState* record : records) VirtualFree(record, 0, MEM_RELEASE);  // torn down, not released
}

}  // namespace
