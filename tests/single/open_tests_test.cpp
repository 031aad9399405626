// The open test on a folder where the check file already exists.
#include "fileops/check_name.h"
#include "single/single_tests.h"
#include "single/slot_fixture.h"

namespace {

using OpenTest = SlotTest;

TEST_F(OpenTest, AnExistingCheckFileEndsTheTestAfterTheRefusedCreation) {
  RunOptions options = {};
  options.mode = kModeSingle;
  options.timeout_sec = 10;
  strcpy(options.target_path, dir_.path().c_str());
  strcpy(options.share_path, log_dir_.path().c_str());
  char name[261] = {0};
  ASSERT_EQ(0, make_check_file_name(kModeSingle, options.target_path, 0, name));
  HANDLE leftover = open_file(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, leftover);
  ASSERT_TRUE(CloseHandle(leftover));

  EXPECT_EQ(kResultNg, single_open_tests(&options, kTargetPath));

  const std::string n(name);
  EXPECT_EQ(
      "Test Processing \"Open an existing file when no file exists\" will now start. \r\n"
      "        The file will now be opened. (" + n + ")\r\n"
      "        ! The file in the path to be checked could be opened, which should not have been "
      "possible.\r\n"
      "Test Processing \"Open an existing file when no file exists\" finished. ... [ NG ]\r\n"
      "Test Processing \"Open a new file when no file exists\" will now start. \r\n"
      "        The file will now be opened. (" + n + ")\r\n"
      "        ! The file in the path to be checked could not be opened. ERRORCODE=80(" +
          system_text(ERROR_FILE_EXISTS) + ")\r\n"
      "Test Processing \"Open a new file when no file exists\" finished. ... [ NG ]\r\n" +
          deleted_line(n),
      log());
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_EQ(INVALID_HANDLE_VALUE, check_slots[0].own_handle);
  EXPECT_STREQ("", check_slots[0].own_file_name);
}

}  // namespace
