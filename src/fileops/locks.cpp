// Locking and unlocking byte 0: the quiet primitives, and the reporting ones
// under the -t time limit.
#include <initializer_list>

#include "fileops/fileops.h"

int try_lock(HANDLE file, LockKind kind, OVERLAPPED* record) {
  // Always a waiting request: a conflict queues it instead of refusing it.
  const DWORD flags = kind == LockKind::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (LockFileEx(file, flags, 0, 1, 0, record)) return kOpOk;
  return GetLastError() == ERROR_IO_PENDING ? kOpPending : kOpFailed;
}

int unlock_byte(HANDLE file) {
  OVERLAPPED record = {};
  return UnlockFileEx(file, 0, 1, 0, &record) ? kOpOk : kOpFailed;
}

namespace {

// Waits for the request and gives its result: {0, 0} when done.  The block
// is retired at once, before anything is reported.  A time-out and a lack of
// memory are never expected refusals, so they are reported whatever
// `report` says; a refusal or failure is reported with `code` unless
// quiet, and its reason stays in the last error.
int conclude(OverlappedRequest& request, int64_t due_time, HANDLE timer, int32_t code,
             LockReport report, ErrorInfo* error) {
  const int waited = request.wait(timer, due_time);
  request.retire();
  if (waited == kOpOk) {
    *error = ErrorInfo{0, 0};
    return kOpOk;
  }
  if (waited == kOpTimedOut) {
    *error = report_failure(kErrTimedOut, 0);
  } else if (request.no_memory()) {
    *error = report_failure(kErrNoMemory, request.error());
  } else if (report == LockReport::kReported) {
    *error = report_failure(code, request.error());
  } else {
    return kOpFailed;
  }
  SetLastError(static_cast<DWORD>(error->system_error));
  return kOpFailed;
}

}  // namespace

int lock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                      LockKind kind, LockWait wait, ErrorInfo* error, LockReport report) {
  const int64_t due_time = due_time_of(options->timeout_sec);
  const bool exclusive = kind == LockKind::kExclusive, waits = wait == LockWait::kWait;
  DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!waits) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  const int32_t code = waits ? (exclusive ? kErrExclusiveWaiting : kErrSharedWaiting)
                             : (exclusive ? kErrExclusiveNoWait : kErrSharedNoWait);
  OverlappedRequest request(file, event, [&](RequestBlock* block) {
    return LockFileEx(file, flags, 0, 1, 0, &block->record);
  });
  return conclude(request, due_time, timer, code, report, error);
}

int unlock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                        ErrorInfo* error) {
  const int64_t due_time = due_time_of(options->timeout_sec);
  OverlappedRequest request(file, event, [&](RequestBlock* block) {
    return UnlockFileEx(file, 0, 1, 0, &block->record);
  });
  return conclude(request, due_time, timer, kErrUnlockFailed, LockReport::kReported, error);
}

bool create_lock_waits(LockWaits* waits, bool with_pending) {
  *waits = LockWaits{nullptr, nullptr, nullptr};
  waits->lock_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (waits->lock_event != nullptr && with_pending) {
    waits->pending_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  if (waits->lock_event == nullptr || (with_pending && waits->pending_event == nullptr)) {
    report_failure(kErrEventFailed, GetLastError());
    return false;
  }
  waits->wait_timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  if (waits->wait_timer == nullptr) {
    report_failure(kErrTimerFailed, GetLastError());
    return false;
  }
  return true;
}

void close_lock_waits(LockWaits* waits) {
  for (HANDLE* handle : {&waits->lock_event, &waits->pending_event, &waits->wait_timer}) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
  }
}
