// Console control handlers, each case in a child that registers its routines
// and raises Ctrl+C against itself (SIGINT; on Windows in a console of its
// own).  Each routine call logs "<F|T><control type><o|m>" (o: not on main's thread).
#include "helpers.h"

namespace {

std::string log_path;
DWORD main_thread_id = 0;

BOOL log_call(char routine, DWORD type) {
  std::ofstream(log_path, std::ios::binary | std::ios::app)
      << routine << type << (GetCurrentThreadId() == main_thread_id ? "m\n" : "o\n");
  return routine == 'T';
}
BOOL WINAPI declining(DWORD type) { return log_call('F', type); }
BOOL WINAPI handling(DWORD type) { return log_call('T', type); }

// args: log, registrations ("+F" adds the declining routine, "+T" the
// handling one, "-F" removes one, "+N" ignores Ctrl+C).  Ends with 0 unless
// the event ended the process.
ZARN_CHILD(console_case) {
  log_path = args[0];
  main_thread_id = GetCurrentThreadId();
#ifdef _WIN32
  FreeConsole();  // a console of its own, Ctrl+C enabled whatever was inherited
  if (!AllocConsole() || !SetConsoleCtrlHandler(nullptr, FALSE)) return 2;
#endif
  for (size_t i = 0; i + 1 < args[1].size(); i += 2) {
    char r = args[1][i + 1];
    if (!SetConsoleCtrlHandler(r == 'T' ? handling : r == 'N' ? nullptr : declining, args[1][i] == '+')) return 3;
  }
#ifdef _WIN32
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
#else
  kill(getpid(), SIGINT);
#endif
  for (int i = 0; i < 100 && read_file(log_path).find('T') == std::string::npos; ++i) Sleep(10);
  return 0;
}

TEST(ConsoleHandlers, CalledLastRegisteredFirstUntilOneHandlesTheEvent) {
#ifdef _WIN32
  // STATUS_CONTROL_C_EXIT; Wine deviation: exit code 0 after the routines declined.
  const int int_end = on_wine() ? 0 : static_cast<int>(0xC000013Au);
#else
  const int int_end = 128 + SIGINT;
#endif
  struct Case {
    const char* registrations;
    int status;
    const char* log;  // "-": none, no routine ran
  } cases[] = {
      {"+F+F", int_end, "F0o\nF0o\n"},  // registered twice: runs twice
      {"+F+T", 0, "T0o\n"},           {"+T+F", 0, "F0o\nT0o\n"},  {"+F+F-F", int_end, "F0o\n"},
      {"+F+N", 0, "-"},                {"+F+N-N", int_end, "F0o\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Child child;
    ASSERT_TRUE(start_child("console_case", {dir.file("log"), c.registrations}, &child));
    EXPECT_EQ(c.status, wait_child(&child, kLong)) << c.registrations;
    EXPECT_EQ(c.log, read_file(dir.file("log"))) << c.registrations;
  }
}

}  // namespace
