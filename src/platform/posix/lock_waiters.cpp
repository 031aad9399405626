// POSIX layer: the queue of waiting lock requests and the poller that serves it.
#include "platform/posix/lock_waiters.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <list>
#include <utility>

#include "platform/posix/locks.h"

namespace zarn_posix {
namespace {

// How often the poller retries while requests wait.  Releases in this
// process are seen at once; releases by other processes or hosts within
// one interval plus the file system's round trip.
constexpr std::chrono::milliseconds kPollInterval(4);

struct LockRequest {
  std::shared_ptr<FileObject> file;
  OVERLAPPED* ov;
  std::shared_ptr<Object> event;  // kept alive even if the caller closes its handle
  uint64_t offset;
  uint64_t length;
  bool exclusive;
};

struct Waiters {
  std::list<LockRequest> queue;  // arrival order
  std::condition_variable done;
  std::condition_variable wake_poller;
  bool poller_running = false;
};

Waiters& waiters() {
  static auto* w = new Waiters();  // never destroyed: the poller may outlive main
  return *w;
}

void finish_locked(LockRequest& request, ULONG_PTR status) {
  request.ov->Internal = status;
  request.ov->InternalHigh = 0;
  if (request.event) event_signal(request.event.get());
  waiters().done.notify_all();
}

void* poller_main(void*) {
  std::unique_lock<std::mutex> hold(lock_state_mutex());
  for (;;) {
    if (waiters().queue.empty()) {
      waiters().wake_poller.wait(hold);
    } else {
      waiters().wake_poller.wait_for(hold, kPollInterval);
    }
    waiters_grant_locked();
  }
  return nullptr;
}

// The poller takes no signal: the console signals belong to the layer's
// signal thread.
bool start_poller_locked() {
  if (waiters().poller_running) return true;
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_t thread;
  int r = pthread_create(&thread, nullptr, poller_main, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (r != 0) return false;
  pthread_detach(thread);
  waiters().poller_running = true;
  return true;
}

}  // namespace

DWORD win_error_of_status(ULONG_PTR status) {
  switch (status) {
    case 0: return ERROR_SUCCESS;
    case STATUS_PENDING: return ERROR_IO_INCOMPLETE;
    case STATUS_CANCELLED: return ERROR_OPERATION_ABORTED;
    case kStatusEndOfFile: return ERROR_HANDLE_EOF;
    case kStatusAccessDenied: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
  }
}

bool waiter_add_locked(std::shared_ptr<FileObject> file, OVERLAPPED* ov,
                       std::shared_ptr<Object> event, uint64_t offset, uint64_t length,
                       bool exclusive) {
  if (!start_poller_locked()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  waiters().queue.push_back(
      LockRequest{std::move(file), ov, std::move(event), offset, length, exclusive});
  waiters().wake_poller.notify_one();
  return true;
}

void waiters_grant_locked() {
  auto& queue = waiters().queue;
  for (auto it = queue.begin(); it != queue.end();) {
    DWORD error = 0;
    Grant grant = lock_take_locked(*it->file, it->offset, it->length, it->exclusive, &error);
    if (grant == Grant::kConflict) {
      ++it;
      continue;
    }
    ULONG_PTR status = 0;
    if (grant == Grant::kFailed) {
      status = error == ERROR_ACCESS_DENIED ? kStatusAccessDenied : kStatusUnsuccessful;
    }
    finish_locked(*it, status);
    it = queue.erase(it);
  }
}

int waiters_cancel_locked(const FileObject* file, const OVERLAPPED* ov) {
  int count = 0;
  auto& queue = waiters().queue;
  for (auto it = queue.begin(); it != queue.end();) {
    if (it->file.get() != file || (ov && it->ov != ov)) {
      ++it;
      continue;
    }
    finish_locked(*it, STATUS_CANCELLED);
    it = queue.erase(it);
    ++count;
  }
  return count;
}

bool waiter_queued_locked(const OVERLAPPED* ov) {
  for (const LockRequest& r : waiters().queue) {
    if (r.ov == ov) return true;
  }
  return false;
}

std::condition_variable& waiters_done_cv() { return waiters().done; }

}  // namespace zarn_posix
