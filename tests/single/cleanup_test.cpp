// single_cleanup and single_ctrl_handler on prepared slots.
#include <thread>

#include "single/slot_fixture.h"
#include "sync/sync.h"

namespace {

using CleanupTest = SlotTest;

// The handler runs on a thread of its own, as the system runs it.
BOOL call_handler() {
  BOOL answer = TRUE;
  std::thread([&] { answer = single_ctrl_handler(CTRL_C_EVENT); }).join();
  return answer;
}

TEST_F(CleanupTest, ReleasesTheSlotAndDeletesItsFileOnce) {
  const std::string name = dir_.file("own");
  HANDLE own = open_file(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, own);
  check_slots[0].own_handle = own;
  set_name(0, name);

  EXPECT_EQ(0, single_cleanup(0));
  EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[0].own_handle);
  EXPECT_FALSE(CloseHandle(own)) << "the clean-up closed the handle";
  EXPECT_STREQ("", check_slots[0].own_file_name);
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_EQ(deleted_line(name), log());

  EXPECT_EQ(0, single_cleanup(0));  // nothing left to release or delete
  EXPECT_EQ(deleted_line(name), log());
}

TEST_F(CleanupTest, KeepsANameItCouldNotDeleteForTheNextPass) {
  const std::string name = dir_.file("held");
  HANDLE elsewhere = open_file(name);  // open without delete sharing
  ASSERT_NE(INVALID_HANDLE_VALUE, elsewhere);
  set_name(0, name);

  single_cleanup(0);
  EXPECT_EQ(name, check_slots[0].own_file_name);
  EXPECT_EQ(std::vector<std::string>{"held"}, dir_.entries());
  EXPECT_EQ("", log());

  ASSERT_TRUE(CloseHandle(elsewhere));
  single_cleanup(1);  // any slot's pass covers both slots
  EXPECT_STREQ("", check_slots[0].own_file_name);
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_EQ(deleted_line(name), log());
}

// The two participants of the paired lock sequence: each owns one file and
// holds the other's open.
TEST_F(CleanupTest, HandlerCleansBothSlotsOnceAndNothingAfterTwoCalls) {
  const std::string file0 = dir_.file("f0");
  const std::string file1 = dir_.file("f1");
  check_slots[0].own_handle = open_file(file0);
  check_slots[0].partner_handle = open_file(file1);
  check_slots[1].own_handle = open_file(file1);
  check_slots[1].partner_handle = open_file(file0);
  set_name(0, file0);
  set_name(1, file1);
  HANDLE slot1_own = check_slots[1].own_handle;

  EXPECT_FALSE(call_handler());
  EXPECT_EQ(1u, interrupt_count);
  for (const CheckFileSlot& slot : check_slots) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, slot.own_handle);
    EXPECT_EQ(INVALID_HANDLE_VALUE, slot.partner_handle);
    EXPECT_STREQ("", slot.own_file_name);
  }
  EXPECT_FALSE(CloseHandle(slot1_own)) << "the handler closed it";
  EXPECT_TRUE(dir_.entries().empty());

  EXPECT_FALSE(call_handler());  // the second registration: nothing left
  EXPECT_EQ(2u, interrupt_count);

  // A third call touches nothing.
  const std::string later = dir_.file("later");
  HANDLE held = open_file(later);
  check_slots[0].own_handle = held;
  set_name(0, later);
  EXPECT_FALSE(call_handler());
  EXPECT_EQ(2u, interrupt_count);
  EXPECT_EQ(held, check_slots[0].own_handle);
  EXPECT_EQ(std::vector<std::string>{"later"}, dir_.entries());
  single_cleanup(0);
  EXPECT_TRUE(dir_.entries().empty());

  // Only the clean-up on this (printing) thread reported a deletion.
  EXPECT_EQ(deleted_line(later), log());
}

// Role 1 registered and created both files while role 0 is still pairing
// up: the one call there is must clean slot 1 and find role 0's file by the
// partner name role 1 recorded.
TEST_F(CleanupTest, ALoneCallCleansTheSlotOfRoleOneAndThePartnerFile) {
  const std::string file0 = dir_.file("f0");
  const std::string file1 = dir_.file("f1");
  check_slots[1].own_handle = open_file(file1);
  check_slots[1].partner_handle = open_file(file0);
  set_name(1, file1);
  slot_set_partner_name(1, file0.c_str());

  call_handler();
  EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[1].own_handle);
  EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[1].partner_handle);
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_STREQ("", partner_file_names[1]);
}

TEST_F(CleanupTest, HandlerTearsDownBothSynchronisationsAndDeletesTheirFiles) {
  SyncState* records[2] = {nullptr, nullptr};
  std::thread first([&] { records[0] = sync_setup(kModeSingle, dir_.path().c_str(), 10); });
  std::thread second([&] { records[1] = sync_setup(kModeSingle, dir_.path().c_str(), 10); });
  first.join();
  second.join();
  ASSERT_NE(nullptr, records[0]);
  ASSERT_NE(nullptr, records[1]);
  ASSERT_EQ(1, records[0]->role + records[1]->role);
  ASSERT_FALSE(dir_.entries().empty());  // the master file
  for (SyncState* record : records) check_slots[record->role].sync_state = record;

  call_handler();
  call_handler();
  EXPECT_EQ(nullptr, check_slots[0].sync_state);
  EXPECT_EQ(nullptr, check_slots[1].sync_state);
  EXPECT_TRUE(records[0]->torn_down);
  EXPECT_TRUE(records[1]->torn_down);
  EXPECT_TRUE(dir_.entries().empty());
  // Handlers tear records down but never release them.
  for (SyncState* record : records) VirtualFree(record, 0, MEM_RELEASE);
}

}  // namespace
