// Test support: child processes on POSIX (posix_spawn).
#ifndef _WIN32

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "support/child.h"

extern char** environ;

bool start_child(const std::string& name, const std::vector<std::string>& args, Child* child) {
  std::vector<std::string> argv = {"/proc/self/exe", "--zarn-child", name};
  argv.insert(argv.end(), args.begin(), args.end());
  return start_program(std::move(argv), child);
}

bool start_program(std::vector<std::string> argv, Child* child) {
  std::vector<char*> cargv;
  for (auto& s : argv) cargv.push_back(&s[0]);
  cargv.push_back(nullptr);
  // The layer blocks the console signals in this process: the child starts clean.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  child->running = posix_spawnp(&child->pid, cargv[0], nullptr, &attr, cargv.data(), environ) == 0;
  posix_spawnattr_destroy(&attr);
  return child->running;
}

int wait_child(Child* child, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (child->running) {
    int raw = 0;
    pid_t r = waitpid(child->pid, &raw, WNOHANG);
    if (r == child->pid) {
      child->running = false;
      return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
    }
    if ((r < 0 && errno != EINTR) || std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill_child(child);
  return -1;
}

void kill_child(Child* child) {
  if (!child->running) return;
  kill(child->pid, SIGKILL);
  while (waitpid(child->pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  child->running = false;
}

#endif  // !_WIN32
