// Overlapped requests: waiting for one under a time limit, by polling, and
// the blocks their records live in.
#include <atomic>
#include <cstdlib>

#include "base/poll_schedule.h"
#include "fileops/fileops.h"

int64_t due_time_of(int32_t timeout_sec) {
  // 64 bits: 600 s is -6,000,000,000, beyond a 32-bit value.
  return static_cast<int64_t>(timeout_sec) * -10000000LL;
}

int wait_overlapped(HANDLE file, OVERLAPPED* record, HANDLE timer, int64_t due_time) {
  LARGE_INTEGER due;
  due.QuadPart = due_time;
  SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
  PollSchedule schedule;
  for (;;) {
    // The request's state is read before the timer, so a completion in the
    // same poll as the time-out wins.
    DWORD transferred = 0;
    if (GetOverlappedResult(file, record, &transferred, FALSE)) return kOpOk;
    if (GetLastError() != ERROR_IO_INCOMPLETE) return kOpFailed;
    if (WaitForSingleObject(timer, 0) == WAIT_OBJECT_0) return kOpTimedOut;
    schedule.pause();
  }
}

namespace {

// A block with its link in the parked list; the block comes first, so a
// RequestBlock* converts back to its ParkedBlock.
struct ParkedBlock {
  RequestBlock block;
  ParkedBlock* next;
};

// Reachable from here until the process ends, so leak checkers stay quiet.
std::atomic<ParkedBlock*> parked_blocks{nullptr};

}  // namespace

RequestBlock* new_request_block(HANDLE event) {
  // calloc: Internal, InternalHigh, Offset and OffsetHigh are 0.
  auto* parked = static_cast<ParkedBlock*>(std::calloc(1, sizeof(ParkedBlock)));
  if (parked == nullptr) return nullptr;
  parked->block.record.hEvent = event;
  return &parked->block;
}

void retire_request_block(HANDLE file, RequestBlock* block, bool went_pending) {
  auto* parked = reinterpret_cast<ParkedBlock*>(block);
  const DWORD saved_error = GetLastError();
  if (!went_pending) {
    std::free(parked);
    SetLastError(saved_error);
    return;
  }
  // A request that already ended is not found; that is fine.
  if (file != INVALID_HANDLE_VALUE) CancelIoEx(file, &block->record);
  SetLastError(saved_error);
  parked->next = parked_blocks.load(std::memory_order_relaxed);
  while (!parked_blocks.compare_exchange_weak(parked->next, parked, std::memory_order_release,
                                              std::memory_order_relaxed)) {
  }
}

int OverlappedRequest::wait(HANDLE timer, int64_t due_time) {
  if (outcome_ != kOpPending) return outcome_;
  const int waited = wait_overlapped(file_, &block_->record, timer, due_time);
  if (waited == kOpFailed) error_ = GetLastError();
  return waited;
}

void OverlappedRequest::retire() {
  if (block_ == nullptr) return;
  retire_request_block(file_, block_, outcome_ == kOpPending);
  block_ = nullptr;
}
