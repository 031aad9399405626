// The read and write test: overlapped write, flush and read of one file in
// the path to be checked, each within the -t time limit.
#include <string.h>

#include "base/scope_guard.h"
#include "fileops/check_name.h"
#include "fileops/fileops.h"
#include "fileops/request_block.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/single_tests.h"
#include "single/slot_ops.h"

namespace {

const char kTestData[] = "1234567890";  // written with its terminating zero: 11 bytes
const DWORD kDataSize = sizeof kTestData;

void report_failure(int32_t code, DWORD system_error) {
  const ErrorInfo error{code, static_cast<int32_t>(system_error)};
  report_error(&error);
}

// Waits for a started request; reports a failure with `code`.  Returns the
// step result.
int wait_request(HANDLE file, RequestBlock* block, HANDLE timer, int64_t due_time, int32_t code) {
  const int waited = wait_overlapped(file, &block->record, timer, due_time);
  if (waited == kOpOk) return kResultOk;
  if (waited == kOpTimedOut) {
    report_failure(kErrTimedOut, 0);
  } else {
    report_failure(code, GetLastError());
  }
  return kResultNg;
}

// A request that went pending may still write into its block after a
// time-out: such a block is cancelled and kept for the life of the process.
void retire_block(HANDLE file, RequestBlock* block, bool went_pending) {
  if (went_pending) {
    park_request_block(file, block);
  } else {
    free_request_block(block);
  }
}

int write_step(HANDLE file, HANDLE event, HANDLE timer, int64_t due_time) {
  GroupGuard g(kGroupWriting);
  report_line(message_text(kMsgWriting));
  RequestBlock* block = new_request_block(event);
  if (block == nullptr) {
    report_failure(kErrNoMemory, ERROR_NOT_ENOUGH_MEMORY);
    g.result = kResultNg;
    return g.result;
  }
  memcpy(block->buffer, kTestData, kDataSize);
  const BOOL done = WriteFile(file, block->buffer, kDataSize, nullptr, &block->record);
  const DWORD error = done ? 0 : GetLastError();
  if (done || error == ERROR_IO_PENDING) {
    g.result = wait_request(file, block, timer, due_time, kErrWriteFailed);
    if (!FlushFileBuffers(file)) {
      report_failure(kErrWriteFailed, GetLastError());
      g.result = kResultNg;
    }
  } else {
    report_failure(kErrWriteFailed, error);
    g.result = kResultNg;
  }
  retire_block(file, block, error == ERROR_IO_PENDING);
  return g.result;
}

int read_step(HANDLE file, HANDLE event, HANDLE timer, int64_t due_time) {
  GroupGuard g(kGroupReading);
  report_line(message_text(kMsgReading));
  RequestBlock* block = new_request_block(event);  // a fresh record and a zeroed buffer
  if (block == nullptr) {
    report_failure(kErrNoMemory, ERROR_NOT_ENOUGH_MEMORY);
    g.result = kResultNg;
    return g.result;
  }
  // Only completion counts: the bytes read are not compared.
  const BOOL done = ReadFile(file, block->buffer, kDataSize, nullptr, &block->record);
  const DWORD error = done ? 0 : GetLastError();
  if (done || error == ERROR_IO_PENDING) {
    g.result = wait_request(file, block, timer, due_time, kErrReadFailed);
  } else {
    report_failure(kErrReadFailed, error);
    g.result = kResultNg;
  }
  retire_block(file, block, error == ERROR_IO_PENDING);
  return g.result;
}

}  // namespace

int single_read_write_test(const RunOptions* options) {
  HANDLE event = nullptr;
  HANDLE timer = nullptr;
  enter_slot_test(0);
  ScopeGuard end([&] {
    if (event != nullptr) CloseHandle(event);
    if (timer != nullptr) CloseHandle(timer);
    leave_slot_test(0);
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
  HANDLE file = open_own_check_file(options, options->target_path, name);
  if (file == INVALID_HANDLE_VALUE) {
    report_failure(kErrPathFileNotOpened, GetLastError());
    return kResultNg;
  }

  const int64_t due_time = due_time_of(options->timeout_sec);
  const int written = write_step(file, event, timer, due_time);
  const int read = read_step(file, event, timer, due_time);
  return written == kResultOk && read == kResultOk ? kResultOk : kResultNg;
}
