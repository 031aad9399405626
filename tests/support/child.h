// Test support: child processes.  A test binary re-runs itself as a child to
// test what only a separate process shows: a scenario declared with
// ZARN_CHILD runs in a child started with start_child, and the binary's main
// (child_common.cpp) runs it or else the tests.  Parent and child hand-shake
// through files.
#ifndef ZARN_TESTS_SUPPORT_CHILD_H
#define ZARN_TESTS_SUPPORT_CHILD_H

#include <string>
#include <vector>

typedef int (*ChildScenario)(const std::vector<std::string>& args);
bool register_child(const char* name, ChildScenario scenario);

// ZARN_CHILD(name) { ...; return status; } with `args` the strings given.
#define ZARN_CHILD(name)                                                                   \
  int name##_fn(const std::vector<std::string>& args);                                     \
  [[maybe_unused]] static const bool name##_registered = register_child(#name, &name##_fn); \
  int name##_fn([[maybe_unused]] const std::vector<std::string>& args)

// Ends the child at once (SIGKILL, TerminateProcess) and reaps it; a child
// still running when its record goes (a failed test) ends so too.
void kill_child(struct Child* child);
struct Child {
#ifdef _WIN32
  void* process = nullptr;  // HANDLE
#else
  int pid = -1;
#endif
  bool running = false;
  ~Child() { kill_child(this); }
};

// Runs this binary as `--zarn-child name args...` with the parent's standard
// output and error; no argument may hold a quote or end with a backslash.
// On POSIX the child starts with no signal blocked and the console signals
// at their default action.
bool start_child(const std::string& name, const std::vector<std::string>& args, Child* child);

// Waits up to timeout_ms for the child to end and returns its exit status
// (POSIX: 128 + signal number after a signal death; Windows: the exit code,
// 0xFFFFFFFF as 255), or -1 on time-out, the child then killed.
int wait_child(Child* child, int timeout_ms);
#ifndef _WIN32
// Starts argv[0] (looked up in PATH) as start_child starts this binary.
bool start_program(std::vector<std::string> argv, Child* child);
#endif

// Polls until `path` exists; false after timeout_ms.
bool wait_for_file(const std::string& path, int timeout_ms);
// Creates `path` (empty) if it does not exist.
void touch_file(const std::string& path);
// The bytes of `path`; "-" when there is no such file.
std::string read_file(const std::string& path);

#endif
