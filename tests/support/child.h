// Test support: child processes.
//
// A test binary re-runs itself as a child to test what only a separate
// process shows (signals, exit status, locks and share modes between
// processes, the environment).  A scenario is declared with ZARN_CHILD and
// started with start_child; the binary's main calls child_main_or_tests.
//
//   ZARN_CHILD(hold_lock) {            // int hold_lock_fn(args)
//     ...; return 0;                   // the child's exit status
//   }
//   Child c;
//   ASSERT_TRUE(start_child("hold_lock", {path}, &c));
//   EXPECT_EQ(0, wait_child(&c, 10000));
//
// Parent and child hand-shake through files: touch_file / wait_for_file.
#ifndef ZARN_TESTS_SUPPORT_CHILD_H
#define ZARN_TESTS_SUPPORT_CHILD_H

#include <string>
#include <utility>
#include <vector>

typedef int (*ChildScenario)(const std::vector<std::string>& args);

// Registers a scenario under `name`; used by ZARN_CHILD.
bool register_child(const char* name, ChildScenario scenario);

#define ZARN_CHILD(name)                                                                   \
  int name##_fn(const std::vector<std::string>& args);                                     \
  [[maybe_unused]] static const bool name##_registered = register_child(#name, &name##_fn); \
  int name##_fn([[maybe_unused]] const std::vector<std::string>& args)

// The main of a test binary: runs the scenario named by
// `--zarn-child <name> args...`, else initialises GoogleTest and runs all tests.
int child_main_or_tests(int argc, char** argv);

// This binary's own path (/proc/self/exe; GetModuleFileNameA on Windows).
std::string self_path();

struct Child {
#ifdef _WIN32
  void* process = nullptr;  // HANDLE
#else
  int pid = -1;
#endif
  bool running = false;
};

// Runs this binary as `--zarn-child name args...`; standard output and error
// are the parent's.  On POSIX the child starts with no signal blocked and the
// console signals at their default action.
bool start_child(const std::string& name, const std::vector<std::string>& args, Child* child);

// Waits up to timeout_ms for the child to end.  Returns its exit status
// (POSIX: 128 + signal number after a signal death; Windows: the exit code,
// with 0xFFFFFFFF given as 255 as on POSIX), or -1 on time-out, the child then
// still running.
int wait_child(Child* child, int timeout_ms);

// Ends the child at once (SIGKILL, TerminateProcess) and reaps it.
void kill_child(Child* child);

#ifndef _WIN32
void signal_child(Child* child, int sig);
#endif

// Polls every 10 ms until `path` exists; false after timeout_ms.
bool wait_for_file(const std::string& path, int timeout_ms);
// Creates `path` (empty) if it does not exist.
void touch_file(const std::string& path);

struct ProcessResult {
  int status = -1;  // as wait_child; -1 when the time limit ended the process
  std::string out;  // standard output, bytes as written
  std::string err;  // standard error
};

// Runs argv (argv[0] searched in PATH when it has no separator) with the
// environment of this process plus `env` (name, value); an empty value is
// still set.  Standard input is empty.  The process is killed after
// timeout_ms.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::pair<std::string, std::string>>& env,
                          int timeout_ms);

#endif
