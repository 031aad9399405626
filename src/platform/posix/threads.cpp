// POSIX layer: threads, thread ids and cooperative suspension (threads.h).
#include "platform/posix/threads.h"

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "platform/posix/waits.h"

namespace zarn_posix {
namespace {

std::mutex& suspend_mutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::condition_variable& suspend_cv() {
  static auto* cv = new std::condition_variable();
  return *cv;
}

// Live threads by id.  Ids are never reused, so an id that outlived its
// thread names nothing.
std::mutex& registry_mutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::unordered_map<DWORD, std::weak_ptr<ThreadRecord>>& registry() {
  static auto* r = new std::unordered_map<DWORD, std::weak_ptr<ThreadRecord>>();
  return *r;
}
DWORD next_id = 0x104;  // under registry_mutex

std::shared_ptr<ThreadRecord> new_record() {
  std::lock_guard<std::mutex> hold(registry_mutex());
  auto record = std::make_shared<ThreadRecord>(next_id);
  next_id += 4;
  registry()[record->id] = record;
  return record;
}

void unregister(DWORD id) {
  std::lock_guard<std::mutex> hold(registry_mutex());
  registry().erase(id);
}

void mark_finished(ThreadRecord* record, DWORD code) {
  std::lock_guard<std::mutex> hold(wait_mutex());
  record->exit_code = code;
  record->finished = true;
  wait_cv().notify_all();
}

// The calling thread's record; made on first use for threads the layer did
// not start (the main thread, threads of the runtime library).
struct Self {
  std::shared_ptr<ThreadRecord> record;
  bool started_by_layer = false;
  ~Self() {
    if (record && !started_by_layer) {
      unregister(record->id);
      mark_finished(record.get(), 0);
      {
        // Wake a SuspendThread that waits for this thread to park.
        std::lock_guard<std::mutex> hold(suspend_mutex());
        suspend_cv().notify_all();
      }
    }
  }
};
thread_local Self self;

ThreadRecord* self_record() {
  if (!self.record) self.record = new_record();
  return self.record.get();
}

// Blocks while the thread is marked.  Called with suspend_mutex held.
void park_locked(ThreadRecord* record, std::unique_lock<std::mutex>& lock) {
  while (record->suspend_count.load() > 0) {
    record->parked = true;
    suspend_cv().notify_all();
    suspend_cv().wait(lock);
  }
  record->parked = false;
}

struct StartBlock {
  std::shared_ptr<ThreadRecord> record;
  LPTHREAD_START_ROUTINE start;
  LPVOID param;
};

void* thread_main(void* arg) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(arg));
  self.record = block->record;
  self.started_by_layer = true;
  DWORD code = block->start(block->param);
  unregister(block->record->id);
  mark_finished(block->record.get(), code);
  {
    std::lock_guard<std::mutex> hold(suspend_mutex());
    suspend_cv().notify_all();
  }
  return nullptr;
}

std::shared_ptr<ThreadRecord> thread_of(HANDLE handle) {
  auto object = handle_get_as<ThreadObject>(handle, Kind::kThread);
  return object ? object->record : nullptr;
}

}  // namespace

void checkpoint() {
  ThreadRecord* record = self.record.get();
  if (record == nullptr || record->suspend_count.load(std::memory_order_acquire) == 0) return;
  std::unique_lock<std::mutex> lock(suspend_mutex());
  park_locked(record, lock);
}

SafePoint::SafePoint() : record_(self.record.get()) {
  if (record_ == nullptr) return;
  std::lock_guard<std::mutex> hold(suspend_mutex());
  record_->in_safe_point = true;
  suspend_cv().notify_all();
}

void SafePoint::leave() {
  if (record_ == nullptr) return;
  std::unique_lock<std::mutex> lock(suspend_mutex());
  park_locked(record_, lock);
  record_->in_safe_point = false;
  record_ = nullptr;
}

bool SafePoint::leave_unless_marked() {
  if (record_ == nullptr) return true;
  std::lock_guard<std::mutex> hold(suspend_mutex());
  if (record_->suspend_count.load() > 0) return false;
  record_->in_safe_point = false;
  record_ = nullptr;
  return true;
}

}  // namespace zarn_posix

using namespace zarn_posix;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD, LPDWORD thread_id) {
  checkpoint();
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  console_start();
  auto record = new_record();
  auto* block = new StartBlock{record, start, param};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_size != 0) pthread_attr_setstacksize(&attr, stack_size < 65536 ? 65536 : stack_size);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, thread_main, block);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete block;
    unregister(record->id);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (thread_id != nullptr) *thread_id = record->id;
  return handle_insert(std::make_shared<ThreadObject>(record));
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  checkpoint();
  auto record = thread_of(thread);
  if (!record || exit_code == nullptr) {
    SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(wait_mutex());
  *exit_code = record->finished ? record->exit_code : STILL_ACTIVE;
  return TRUE;
}

DWORD GetCurrentThreadId(void) {
  checkpoint();
  return self_record()->id;
}

HANDLE OpenThread(DWORD, BOOL, DWORD thread_id) {
  checkpoint();
  std::shared_ptr<ThreadRecord> record;
  {
    std::lock_guard<std::mutex> hold(registry_mutex());
    auto it = registry().find(thread_id);
    if (it != registry().end()) record = it->second.lock();
  }
  if (!record) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return handle_insert(std::make_shared<ThreadObject>(record));
}

DWORD SuspendThread(HANDLE thread) {
  checkpoint();
  auto record = thread_of(thread);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::unique_lock<std::mutex> lock(suspend_mutex());
  if (record->finished) {
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
  }
  int previous = record->suspend_count.fetch_add(1);
  if (record.get() == self.record.get()) {
    park_locked(record.get(), lock);  // suspending oneself stops at once
  } else {
    suspend_cv().wait_for(lock, std::chrono::milliseconds(kSuspendWaitMs), [&] {
      return record->parked || record->in_safe_point || record->finished.load() ||
             record->suspend_count.load() == 0;
    });
  }
  return static_cast<DWORD>(previous);
}

DWORD ResumeThread(HANDLE thread) {
  checkpoint();
  auto record = thread_of(thread);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> hold(suspend_mutex());
  int previous = record->suspend_count.load();
  if (previous > 0) {
    record->suspend_count.store(previous - 1);
    if (previous == 1) suspend_cv().notify_all();
  }
  return static_cast<DWORD>(previous);
}
