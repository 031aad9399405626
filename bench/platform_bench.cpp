// The POSIX layer's costs: an open with share checking against a plain
// open(2), a lock/unlock pair, and the delay from a holder's unlock to the
// completion of a waiting request.
//
//   platform_bench [benchmark flags]            the timings
//   platform_bench --syscalls MODE N            N open/close pairs for
//                                               count_syscalls.sh (MODE:
//                                               plain, layer, layer-busy)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A file in a fresh folder on the local disk (TMPDIR, else /var/tmp: /tmp may be tmpfs).
struct BenchFile {
  BenchFile() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/var/tmp") + "/zarn-bench-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) dir = buf.data();
    path = dir + "/f";
    int fd = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
  }
  ~BenchFile() {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, path;
};

double now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

HANDLE open_layer(const std::string& path) {
  return CreateFileA(path.c_str(), kReadWrite, kShareReadWrite, NULL, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, NULL);
}

void BM_OpenPlain(benchmark::State& state) {
  BenchFile f;
  for (auto _ : state) {
    int fd = open(f.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) state.SkipWithError("open failed");
    close(fd);
  }
}
BENCHMARK(BM_OpenPlain);

// range(0): another handle of the file is open, so the new open finds its
// markers and probes byte by byte.
void BM_OpenShareChecked(benchmark::State& state) {
  BenchFile f;
  HANDLE other = state.range(0) ? open_layer(f.path) : INVALID_HANDLE_VALUE;
  for (auto _ : state) {
    HANDLE h = open_layer(f.path);
    if (h == INVALID_HANDLE_VALUE) state.SkipWithError("CreateFileA failed");
    CloseHandle(h);
  }
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}
BENCHMARK(BM_OpenShareChecked)->Arg(0)->Arg(1);

void BM_LockUnlockPair(benchmark::State& state) {
  BenchFile f;
  HANDLE h = open_layer(f.path);
  for (auto _ : state) {
    OVERLAPPED ov = {};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
      state.SkipWithError("LockFileEx failed");
    }
    UnlockFileEx(h, 0, 1, 0, &ov);
  }
  CloseHandle(h);
}
BENCHMARK(BM_LockUnlockPair);

void BM_OfdLockUnlockPair(benchmark::State& state) {
  BenchFile f;
  int fd = open(f.path.c_str(), O_RDWR | O_CLOEXEC);
  struct flock fl = {};
  fl.l_whence = SEEK_SET;
  fl.l_len = 1;
  for (auto _ : state) {
    fl.l_type = F_WRLCK;
    fcntl(fd, F_OFD_SETLK, &fl);
    fl.l_type = F_UNLCK;
    fcntl(fd, F_OFD_SETLK, &fl);
  }
  close(fd);
}
BENCHMARK(BM_OfdLockUnlockPair);

// The holder of byte 0 is another process (a plain OFD lock, as any program
// could take): it locks on 'l', and on 'u' sleeps 0-5 ms (so that the unlock
// falls anywhere in the waiter's poll cycle), unlocks, and sends the time of
// its unlock.  The waiter's request completes when the layer notices.
void holder_process(const char* path, int commands, int replies) {
  int fd = open(path, O_RDWR | O_CLOEXEC);
  struct flock fl = {};
  fl.l_whence = SEEK_SET;
  fl.l_len = 1;
  unsigned seed = 1;
  char c;
  while (read(commands, &c, 1) == 1) {
    double t = 0;
    if (c == 'l') {
      fl.l_type = F_WRLCK;
      fcntl(fd, F_OFD_SETLK, &fl);
    } else {
      seed = seed * 1103515245u + 12345u;
      struct timespec pause = {0, static_cast<long>((seed >> 8) % 5000) * 1000};
      nanosleep(&pause, nullptr);
      t = now_us();
      fl.l_type = F_UNLCK;
      fcntl(fd, F_OFD_SETLK, &fl);
    }
    if (write(replies, &t, sizeof t) != sizeof t) break;
  }
  _exit(0);
}

void BM_UnlockToGrantOtherProcess(benchmark::State& state) {
  BenchFile f;
  int commands[2], replies[2];
  if (pipe(commands) != 0 || pipe(replies) != 0) return state.SkipWithError("pipe failed");
  const char* path = f.path.c_str();
  pid_t pid = fork();
  if (pid == 0) {
    close(commands[1]);
    close(replies[0]);
    holder_process(path, commands[0], replies[1]);
  }
  close(commands[0]);
  close(replies[1]);
  HANDLE h = open_layer(f.path);
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
  std::vector<double> delays;
  for (auto _ : state) {
    double t_unlock;
    if (write(commands[1], "l", 1) != 1 || read(replies[0], &t_unlock, sizeof t_unlock) != sizeof t_unlock) {
      return state.SkipWithError("holder gone");
    }
    OVERLAPPED ov = {};
    ov.hEvent = event;
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov) || GetLastError() != ERROR_IO_PENDING) {
      return state.SkipWithError("the request did not wait");
    }
    if (write(commands[1], "u", 1) != 1) return state.SkipWithError("holder gone");
    WaitForSingleObject(event, INFINITE);
    double t_grant = now_us();
    if (read(replies[0], &t_unlock, sizeof t_unlock) != sizeof t_unlock) return state.SkipWithError("holder gone");
    delays.push_back(t_grant - t_unlock);
    state.SetIterationTime((t_grant - t_unlock) / 1e6);
    OVERLAPPED unlock = {};
    UnlockFileEx(h, 0, 1, 0, &unlock);
  }
  close(commands[1]);
  close(replies[0]);
  waitpid(pid, nullptr, 0);
  CloseHandle(event);
  CloseHandle(h);
  std::sort(delays.begin(), delays.end());
  if (!delays.empty()) {
    state.counters["median_ms"] = delays[delays.size() / 2] / 1e3;
    state.counters["max_ms"] = delays.back() / 1e3;
  }
}
BENCHMARK(BM_UnlockToGrantOtherProcess)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

// The holder is another handle of this process: the unlock grants the
// waiting request before it returns.
void BM_UnlockToGrantSameProcess(benchmark::State& state) {
  BenchFile f;
  HANDLE holder = open_layer(f.path);
  HANDLE h = open_layer(f.path);
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
  for (auto _ : state) {
    OVERLAPPED lock = {}, ov = {};
    ov.hEvent = event;
    LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lock);
    LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov);
    double t_unlock = now_us();
    UnlockFileEx(holder, 0, 1, 0, &lock);
    WaitForSingleObject(event, INFINITE);
    state.SetIterationTime((now_us() - t_unlock) / 1e6);
    UnlockFileEx(h, 0, 1, 0, &lock);
  }
  CloseHandle(event);
  CloseHandle(holder);
  CloseHandle(h);
}
BENCHMARK(BM_UnlockToGrantSameProcess)->UseManualTime()->Unit(benchmark::kMicrosecond);

// N open/close pairs and nothing else, for strace -c.
int syscall_probe(const std::string& mode, int n) {
  BenchFile f;
  HANDLE other = mode == "layer-busy" ? open_layer(f.path) : INVALID_HANDLE_VALUE;
  for (int i = 0; i < n; ++i) {
    if (mode == "plain") {
      close(open(f.path.c_str(), O_RDWR | O_CLOEXEC));
    } else {
      CloseHandle(open_layer(f.path));
    }
  }
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "--syscalls") == 0) return syscall_probe(argv[2], atoi(argv[3]));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
