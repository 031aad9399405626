// Console control handlers: registration list, last-registered-first calls on
// a thread of their own, and the process's end when every routine declines.
//
// Each case runs in a child process that registers its routines and then
// raises the console event against itself: on POSIX the signal, on Windows
// GenerateConsoleCtrlEvent in a console of its own (so that the event reaches
// the child alone).  The routines append one line each to a log:
// "<F|T><control type><o|m>", o when called on another thread than main's.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/win32.h"
#include "support/child.h"
#include "support/temp_dir.h"
#include "support/wine.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace {

std::string log_path;
DWORD main_thread_id = 0;

void log_call(char routine, DWORD type) {
  if (std::FILE* f = std::fopen(log_path.c_str(), "ab")) {
    std::fprintf(f, "%c%lu%c\n", routine, static_cast<unsigned long>(type),
                 GetCurrentThreadId() == main_thread_id ? 'm' : 'o');
    std::fclose(f);
  }
}

BOOL WINAPI declining_routine(DWORD type) {
  log_call('F', type);
  return FALSE;
}

BOOL WINAPI handling_routine(DWORD type) {
  log_call('T', type);
  return TRUE;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Windows: a console of the child's own, so that the event reaches it alone,
// with Ctrl+C enabled whatever was inherited.
bool prepare_console() {
#ifdef _WIN32
  FreeConsole();
  return AllocConsole() && SetConsoleCtrlHandler(nullptr, FALSE);
#else
  return true;
#endif
}

// Raises the console event named "int", "term" or "hup" against this process.
bool raise_console_event(const std::string& event) {
#ifdef _WIN32
  return event == "int" && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
#else
  int sig = event == "int" ? SIGINT : event == "term" ? SIGTERM : SIGHUP;
  return kill(getpid(), sig) == 0;
#endif
}

#ifdef _WIN32
// Windows ends a process whose routines all declined with STATUS_CONTROL_C_EXIT.
const int kEndedByCtrlC = static_cast<int>(0xC000013Au);
#endif

int ended_by(const std::string& event) {
#ifdef _WIN32
  (void)event;
  // Wine deviation: the process ends with exit code 0 after the routines declined.
  return running_under_wine() ? 0 : kEndedByCtrlC;
#else
  return 128 + (event == "int" ? SIGINT : event == "term" ? SIGTERM : SIGHUP);
#endif
}

// Runs the child: registrations ("+F" adds the declining routine, "+T" the
// handling one, "-F" removes one registration of the declining one, "+N"
// makes the process ignore Ctrl+C), then the event.  Returns the child's exit status and fills `log`.
int run_case(const std::string& registrations, const std::string& event, std::string* log) {
  TempDir dir;
  std::string path = dir.file("log");
  Child child;
  if (!start_child("console_case", {path, registrations, event}, &child)) return -2;
  int status = wait_child(&child, 20000);
  if (status == -1) kill_child(&child);
  *log = read_file(path);
  return status;
}

}  // namespace

ZARN_CHILD(console_case) {
  log_path = args[0];
  main_thread_id = GetCurrentThreadId();
  if (!prepare_console()) return 2;
  const std::string& regs = args[1];
  for (size_t i = 0; i + 1 < regs.size(); i += 2) {
    char r = regs[i + 1];
    PHANDLER_ROUTINE routine = r == 'T' ? handling_routine : r == 'N' ? nullptr : declining_routine;
    if (!SetConsoleCtrlHandler(routine, regs[i] == '+')) return 3;
  }
  if (!raise_console_event(args[2])) return 4;
  bool ignored = args.size() > 3 && args[3] == "ignored";
  if (ignored || (regs.size() >= 2 && regs.compare(regs.size() - 2, 2, "+N") == 0)) {
    Sleep(300);  // an ignored Ctrl+C: nothing may happen meanwhile
    return 0;
  }
  // Survives only when a routine handled the event: then wait for its line.
  for (int i = 0; i < 2000; ++i) {
    if (read_file(log_path).find('T') != std::string::npos) return 0;
    Sleep(10);
  }
  return 5;
}

TEST(ConsoleHandlers, RegisteredTwiceRunsTwiceThenTheProcessEnds) {
  std::string log;
  EXPECT_EQ(ended_by("int"), run_case("+F+F", "int", &log));
  EXPECT_EQ("F0o\nF0o\n", log);
}

TEST(ConsoleHandlers, LastRegisteredFirstAndHandledStopsThere) {
  std::string log;
  EXPECT_EQ(0, run_case("+F+T", "int", &log));
  EXPECT_EQ("T0o\n", log);
  EXPECT_EQ(0, run_case("+T+F", "int", &log));  // declined, then handled
  EXPECT_EQ("F0o\nT0o\n", log);
}

TEST(ConsoleHandlers, RemoveTakesOutOneRegistrationAndNullIgnoresCtrlC) {
  std::string log;
  EXPECT_EQ(ended_by("int"), run_case("+F+F-F", "int", &log));
  EXPECT_EQ("F0o\n", log);

  EXPECT_EQ(0, run_case("+F+N", "int", &log));  // Ctrl+C ignored: no routine runs
  EXPECT_EQ("", log);
  EXPECT_EQ(ended_by("int"), run_case("+F+N-N", "int", &log));
  EXPECT_EQ("F0o\n", log);

  SetLastError(0);
  EXPECT_FALSE(SetConsoleCtrlHandler(declining_routine, FALSE));  // never registered
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

#ifndef _WIN32
TEST(ConsoleHandlers, OtherSignalsAndNoRoutineEndTheProcessAsTheSignalWould) {
  std::string log;
  EXPECT_EQ(128 + SIGTERM, run_case("+F", "term", &log));
  EXPECT_EQ("F6o\n", log);  // CTRL_SHUTDOWN_EVENT
  EXPECT_EQ(128 + SIGHUP, run_case("+F", "hup", &log));
  EXPECT_EQ("F2o\n", log);  // CTRL_CLOSE_EVENT
  EXPECT_EQ(128 + SIGINT, run_case("", "int", &log));
  EXPECT_EQ("", log);
  EXPECT_EQ(0, run_case("+T", "term", &log));
  EXPECT_EQ("T6o\n", log);
}

// A background job of a non-interactive shell starts with SIGINT ignored; it
// stays ignored, routines or not.
TEST(ConsoleHandlers, SignalIgnoredAtStartStaysIgnored) {
  TempDir dir;
  std::string log = dir.file("log");
  ProcessResult r = run_process(
      {"/bin/sh", "-c", "trap '' INT; exec \"$0\" --zarn-child console_case \"$1\" +F int ignored",
       self_path(), log},
      {}, 20000);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", read_file(log));
}
#endif
