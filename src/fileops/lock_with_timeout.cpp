// Locking and unlocking byte 0 under the -t time limit, with reports.
#include "fileops/fileops.h"
#include "fileops/request_block.h"

namespace {

enum class Outcome { kDone, kTimedOut, kFailed, kNoMemory };

// Starts one request on a fresh block and waits for it if it went pending.
// The block of a pending request is parked: the system may still write into
// its record after the wait (a cancelled request completes later on Windows;
// Wine leaves a waiting lock queued while the record reads as done).  On
// kFailed and kNoMemory the reason is in *failure.
template <class Start>
Outcome run_request(HANDLE file, HANDLE event, HANDLE timer, int64_t due_time, Start start,
                    DWORD* failure) {
  RequestBlock* block = new_request_block(event);
  if (block == nullptr) {
    *failure = ERROR_NOT_ENOUGH_MEMORY;
    return Outcome::kNoMemory;
  }
  if (start(&block->record)) {
    free_request_block(block);
    return Outcome::kDone;
  }
  *failure = GetLastError();
  if (*failure != ERROR_IO_PENDING) {
    free_request_block(block);
    SetLastError(*failure);
    return Outcome::kFailed;
  }
  const int waited = wait_overlapped(file, &block->record, timer, due_time);
  *failure = GetLastError();
  park_request_block(file, block);
  SetLastError(*failure);
  if (waited == kOpOk) return Outcome::kDone;
  return waited == kOpTimedOut ? Outcome::kTimedOut : Outcome::kFailed;
}

void fail_with(ErrorInfo* error, int32_t code, DWORD system_error) {
  error->code = code;
  error->system_error = static_cast<int32_t>(system_error);
  report_error(error);
  SetLastError(system_error);
}

// The result of a request: {0, 0} when done.  A time-out and a lack of
// memory are never expected refusals, so they are reported whatever `report`
// says; a refusal or failure is reported with `code` unless `report` is 0.
int conclude(Outcome outcome, DWORD failure, int32_t code, int report, ErrorInfo* error) {
  switch (outcome) {
    case Outcome::kDone:
      *error = ErrorInfo{0, 0};
      return kOpOk;
    case Outcome::kTimedOut:
      fail_with(error, kErrTimedOut, 0);
      return kOpFailed;
    case Outcome::kNoMemory:
      fail_with(error, kErrNoMemory, failure);
      return kOpFailed;
    case Outcome::kFailed:
      break;
  }
  if (report) fail_with(error, code, failure);
  return kOpFailed;
}

}  // namespace

int lock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                      int exclusive, int wait, ErrorInfo* error, int report) {
  const int64_t due_time = due_time_of(options->timeout_sec);
  DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!wait) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  const int32_t code = wait ? (exclusive ? kErrExclusiveWaiting : kErrSharedWaiting)
                      : (exclusive ? kErrExclusiveNoWait : kErrSharedNoWait);

  DWORD failure = 0;
  const Outcome outcome = run_request(
      file, event, timer, due_time,
      [&](OVERLAPPED* record) { return LockFileEx(file, flags, 0, 1, 0, record); }, &failure);
  return conclude(outcome, failure, code, report, error);
}

int unlock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                        ErrorInfo* error) {
  const int64_t due_time = due_time_of(options->timeout_sec);
  DWORD failure = 0;
  const Outcome outcome = run_request(
      file, event, timer, due_time,
      [&](OVERLAPPED* record) { return UnlockFileEx(file, 0, 1, 0, record); }, &failure);
  return conclude(outcome, failure, kErrUnlockFailed, 1, error);
}
