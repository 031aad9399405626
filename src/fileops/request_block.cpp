// Request blocks: freed when their request ended at once, parked for the life
// of the process once it went pending.
#include "fileops/request_block.h"

#include <atomic>
#include <cstdlib>

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

void free_request_block(RequestBlock* block) {
  std::free(reinterpret_cast<ParkedBlock*>(block));
}

void park_request_block(HANDLE file, RequestBlock* block) {
  const DWORD saved_error = GetLastError();
  // A request that already ended is not found; that is fine.
  if (file != INVALID_HANDLE_VALUE) CancelIoEx(file, &block->record);
  SetLastError(saved_error);
  auto* parked = reinterpret_cast<ParkedBlock*>(block);
  parked->next = parked_blocks.load(std::memory_order_relaxed);
  while (!parked_blocks.compare_exchange_weak(parked->next, parked, std::memory_order_release,
                                              std::memory_order_relaxed)) {
  }
}
