// The test support itself: child processes, their exit status, captured output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/child.h"
#include "support/temp_dir.h"

ZARN_CHILD(support_exit_with) {
  std::printf("out:%s\n", args.empty() ? "" : args[0].c_str());
  std::fprintf(stderr, "err\n");
  return args.empty() ? 0 : std::atoi(args[0].c_str());
}

ZARN_CHILD(support_touch_then_wait) {
  touch_file(args[0]);
  return wait_for_file(args[1], 20000) ? 0 : 1;
}

ZARN_CHILD(support_print_env) {
  const char* v = std::getenv(args[0].c_str());
  std::printf("[%s]", v ? v : "(unset)");
  return 0;
}

TEST(Support, ChildExitStatusAndHandshake) {
  Child child;
  ASSERT_TRUE(start_child("support_exit_with", {"7"}, &child));
  EXPECT_EQ(7, wait_child(&child, 20000));

  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(start_child("support_touch_then_wait", {dir.file("ready"), dir.file("go")}, &child));
  ASSERT_TRUE(wait_for_file(dir.file("ready"), 20000));
  EXPECT_EQ(-1, wait_child(&child, 50));  // still waiting for "go"
  touch_file(dir.file("go"));
  EXPECT_EQ(0, wait_child(&child, 20000));
  EXPECT_EQ((std::vector<std::string>{"go", "ready"}), dir.entries());
}

TEST(Support, KilledChildAndCapturedOutput) {
  TempDir dir;
  Child child;
  ASSERT_TRUE(start_child("support_touch_then_wait", {dir.file("a"), dir.file("never")}, &child));
  ASSERT_TRUE(wait_for_file(dir.file("a"), 20000));
  kill_child(&child);
  EXPECT_FALSE(child.running);

  ProcessResult r = run_process({self_path(), "--zarn-child", "support_exit_with", "3"}, {}, 20000);
  EXPECT_EQ(3, r.status);
  EXPECT_EQ("out:3\n", r.out);
  EXPECT_EQ("err\n", r.err);

  r = run_process({self_path(), "--zarn-child", "support_print_env", "ZARN_SUPPORT_X"},
                  {{"ZARN_SUPPORT_X", "a b"}}, 20000);
  EXPECT_EQ("[a b]", r.out);
}

TEST(Support, TempDirRemovesItsContents) {
  std::string path;
  {
    TempDir dir;
    path = dir.path();
    touch_file(dir.file("x"));
    EXPECT_TRUE(wait_for_file(dir.file("x"), 0));
  }
  EXPECT_FALSE(wait_for_file(path, 0));
}
