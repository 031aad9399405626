// POSIX layer: console control handlers on the console signals.
//
// SIGINT, SIGQUIT, SIGHUP and SIGTERM stand for CTRL_C_EVENT,
// CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT and CTRL_SHUTDOWN_EVENT.  They are
// blocked in every thread (this file's static initialiser runs before main,
// so every later thread inherits the mask) and taken by one thread of the
// layer with sigwait.  Each signal gets a thread of its own that calls the
// registered routines last-registered-first, as Windows does; a routine
// never runs in an async signal context.  When none returns TRUE, that
// thread ends the process the way the signal itself would have.
//
// A signal that was ignored when the process started (a background job of a
// non-interactive shell) stays ignored.
//
// SIGPIPE is ignored: a write to a pipe whose reader has gone (`| head`)
// fails with EPIPE, as WriteFile fails on Windows, and the run goes on.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/posix/threads.h"

namespace zarn_posix {
namespace {

constexpr int kConsoleSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

struct Console {
  std::mutex mutex;
  std::vector<PHANDLER_ROUTINE> routines;  // in registration order
  bool ignore_ctrl_c = false;              // SetConsoleCtrlHandler(NULL, TRUE)
  sigset_t taken;                          // the signals the layer takes
};

Console& console() {
  static auto* c = new Console();
  return *c;
}

DWORD control_type(int sig) {
  switch (sig) {
    case SIGINT: return CTRL_C_EVENT;
    case SIGQUIT: return CTRL_BREAK_EVENT;
    case SIGHUP: return CTRL_CLOSE_EVENT;
    default: return CTRL_SHUTDOWN_EVENT;
  }
}

[[noreturn]] void end_as_signal(int sig) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(sig);  // unblocked in this thread only: delivered here, at once
  _exit(128 + sig);
}

void* dispatch(void* arg) {
  int sig = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  std::vector<PHANDLER_ROUTINE> routines;
  {
    std::lock_guard<std::mutex> hold(console().mutex);
    if (sig == SIGINT && console().ignore_ctrl_c) return nullptr;
    routines = console().routines;
  }
  DWORD type = control_type(sig);
  for (auto it = routines.rbegin(); it != routines.rend(); ++it) {
    if ((*it)(type)) return nullptr;
  }
  end_as_signal(sig);
}

void* signal_thread(void*) {
  for (;;) {
    int sig = 0;
    if (sigwait(&console().taken, &sig) != 0) continue;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    void* arg = reinterpret_cast<void*>(static_cast<intptr_t>(sig));
    if (pthread_create(&thread, &attr, dispatch, arg) != 0) dispatch(arg);
    pthread_attr_destroy(&attr);
  }
  return nullptr;
}

void start_once() {
  signal(SIGPIPE, SIG_IGN);
  sigset_t& taken = console().taken;
  sigemptyset(&taken);
  for (int sig : kConsoleSignals) {
    struct sigaction old = {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaddset(&taken, sig);
  }
  pthread_sigmask(SIG_BLOCK, &taken, nullptr);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  // Without the thread the signals keep their default action.
  if (pthread_create(&thread, &attr, signal_thread, nullptr) != 0) {
    pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
  }
  pthread_attr_destroy(&attr);
}

[[maybe_unused]] const bool started_before_main = (console_start(), true);

}  // namespace

void console_start() {
  static std::once_flag once;
  std::call_once(once, start_once);
}

}  // namespace zarn_posix

using namespace zarn_posix;

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  checkpoint();
  console_start();
  std::lock_guard<std::mutex> hold(console().mutex);
  if (routine == nullptr) {
    console().ignore_ctrl_c = add != FALSE;
    return TRUE;
  }
  std::vector<PHANDLER_ROUTINE>& routines = console().routines;
  if (add) {
    routines.push_back(routine);
    return TRUE;
  }
  // Removes one registration, the latest.
  auto it = std::find(routines.rbegin(), routines.rend(), routine);
  if (it == routines.rend()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  routines.erase(std::next(it).base());
  return TRUE;
}
