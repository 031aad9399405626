// Test support: child processes on POSIX (posix_spawn).
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "support/child.h"

extern char** environ;

namespace {

// The child starts clean: nothing blocked (the layer blocks the console
// signals in this process), console signals and SIGPIPE at their defaults.
struct SpawnAttr {
  posix_spawnattr_t attr;
  SpawnAttr() {
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
};

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// 1: ended (status set), 0: still running, -1: error.
int try_reap(int pid, int* status) {
  int raw = 0;
  pid_t r;
  do {
    r = waitpid(pid, &raw, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid) {
    *status = decode_status(raw);
    return 1;
  }
  return r == 0 ? 0 : -1;
}

}  // namespace

std::string self_path() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

bool start_child(const std::string& name, const std::vector<std::string>& args, Child* child) {
  std::vector<std::string> argv = {self_path(), "--zarn-child", name};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv = c_strings(argv);
  SpawnAttr attr;
  pid_t pid = -1;
  if (posix_spawn(&pid, cargv[0], nullptr, &attr.attr, cargv.data(), environ) != 0) return false;
  child->pid = pid;
  child->running = true;
  return true;
}

int wait_child(Child* child, int timeout_ms) {
  if (!child->running) return -1;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = -1;
    int r = try_reap(child->pid, &status);
    if (r != 0) {
      child->running = false;
      return status;
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void kill_child(Child* child) {
  if (!child->running) return;
  kill(child->pid, SIGKILL);
  int raw = 0;
  while (waitpid(child->pid, &raw, 0) < 0 && errno == EINTR) {
  }
  child->running = false;
}

void signal_child(Child* child, int sig) {
  if (child->running) kill(child->pid, sig);
}

ProcessResult run_process(const std::vector<std::string>& argv_in,
                          const std::vector<std::pair<std::string, std::string>>& env,
                          int timeout_ms) {
  ProcessResult result;
  std::vector<std::string> argv = argv_in;
  std::vector<char*> cargv = c_strings(argv);

  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& kv : env) {
      if (entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0) replaced = true;
    }
    if (!replaced) envs.push_back(entry);
  }
  for (const auto& kv : env) envs.push_back(kv.first + "=" + kv.second);
  std::vector<char*> cenv = c_strings(envs);

  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) return result;
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
  posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
  posix_spawn_file_actions_addclose(&actions, out_pipe[1]);
  posix_spawn_file_actions_addclose(&actions, err_pipe[1]);
  SpawnAttr attr;
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, cargv[0], &actions, &attr.attr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    result.err = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }

  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  bool timed_out = false;
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  Child child;
  child.pid = pid;
  child.running = true;
  if (!timed_out) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now())
                    .count();
    result.status = wait_child(&child, left > 0 ? static_cast<int>(left) : 0);
  }
  if (child.running) {
    kill_child(&child);
    result.status = -1;
  }
  return result;
}

#endif  // !_WIN32
