// The read and write test: overlapped write, flush and read of one file in
// the path to be checked, each within the -t time limit.
#include <string.h>

#include "base/scope_guard.h"
#include "fileops/fileops.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/single_check.h"

namespace {

const char kTestData[] = "1234567890";  // written with its terminating zero: 11 bytes
const DWORD kDataSize = sizeof kTestData;

// Waits for a request that was not refused at once, also one done at once;
// reports a failure with `code`.  Returns the step result.
int settle(OverlappedRequest& request, HANDLE file, HANDLE timer, int64_t due_time, int32_t code) {
  if (request.outcome() == kOpFailed) {
    report_failure(request.no_memory() ? kErrNoMemory : code, request.error());
    return kResultNg;
  }
  const int waited = wait_overlapped(file, request.record(), timer, due_time);
  if (waited == kOpOk) return kResultOk;
  if (waited == kOpTimedOut) {
    report_failure(kErrTimedOut, 0);
  } else {
    report_failure(code, GetLastError());
  }
  return kResultNg;
}

int write_step(HANDLE file, HANDLE event, HANDLE timer, int64_t due_time) {
  GroupGuard g(kGroupWriting);
  report_line(message_text(kMsgWriting));
  OverlappedRequest request(file, event, [&](RequestBlock* block) {
    memcpy(block->buffer, kTestData, kDataSize);
    return WriteFile(file, block->buffer, kDataSize, nullptr, &block->record);
  });
  g.result = settle(request, file, timer, due_time, kErrWriteFailed);
  // Flushed whatever the wait gave, but not after a write refused at once.
  if (request.outcome() != kOpFailed && !FlushFileBuffers(file)) {
    report_failure(kErrWriteFailed, GetLastError());
    g.result = kResultNg;
  }
  return g.result;
}

int read_step(HANDLE file, HANDLE event, HANDLE timer, int64_t due_time) {
  GroupGuard g(kGroupReading);
  report_line(message_text(kMsgReading));
  // Into a zeroed buffer; only completion counts: the bytes read are not compared.
  OverlappedRequest request(file, event, [&](RequestBlock* block) {
    return ReadFile(file, block->buffer, kDataSize, nullptr, &block->record);
  });
  g.result = settle(request, file, timer, due_time, kErrReadFailed);
  return g.result;
}

}  // namespace

int single_read_write_test(const RunOptions* options) {
  HANDLE event = nullptr;
  HANDLE timer = nullptr;
  enter_slot_test();
  ScopeGuard end([&] {
    if (event != nullptr) CloseHandle(event);
    if (timer != nullptr) CloseHandle(timer);
    leave_slot_test();
  });

  event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    report_line(message_text(kMsgEventFailed));
    return kResultNg;
  }
  timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  if (timer == nullptr) {
    report_failure(kErrTimerFailed, GetLastError());
    return kResultNg;
  }
  char name[261] = {0};
  HANDLE file = open_own_check_file(options->target_path, name);
  if (file == INVALID_HANDLE_VALUE) {
    report_failure(kErrPathFileNotOpened, GetLastError());
    return kResultNg;
  }

  const int64_t due_time = due_time_of(options->timeout_sec);
  const int written = write_step(file, event, timer, due_time);
  const int read = read_step(file, event, timer, due_time);
  return written == kResultOk && read == kResultOk ? kResultOk : kResultNg;
}
