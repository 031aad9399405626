// Which SyncState records are allocated and not yet released.
//
// A console control handler may meet a record pointer in a slot just after
// the record's owner released it (sync_finish releases, then its caller
// forgets the pointer).  Tear-downs therefore go through this table, under
// resource_lock, and leave alone a record that is no longer live.
#include <string.h>

#include <algorithm>
#include <vector>

#include "base/process_end.h"
#include "sync/master_file.h"

namespace {
std::vector<SyncState*>& live_records() {
  static auto* records = new std::vector<SyncState*>();
  return *records;
}
}  // namespace

SyncState* allocate_record() {
  auto* state = static_cast<SyncState*>(
      VirtualAlloc(nullptr, sizeof(SyncState), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (state == nullptr) return nullptr;
  const DWORD ok = GetLastError();
  EnterCriticalSection(&resource_lock);
  std::vector<SyncState*>& records = live_records();
  if (std::find(records.begin(), records.end(), state) == records.end()) records.push_back(state);
  LeaveCriticalSection(&resource_lock);
  SetLastError(ok);
  return state;
}

void release_record(SyncState* state) {
  EnterCriticalSection(&resource_lock);
  std::vector<SyncState*>& records = live_records();
  records.erase(std::remove(records.begin(), records.end(), state), records.end());
  VirtualFree(state, 0, MEM_RELEASE);
  LeaveCriticalSection(&resource_lock);
}

bool record_is_live(const SyncState* state) {
  const std::vector<SyncState*>& records = live_records();
  return std::find(records.begin(), records.end(), state) != records.end();
}

bool master_open_elsewhere(const SyncState* state) {
  for (const SyncState* other : live_records()) {
    if (other != state && !other->torn_down && other->master_file != INVALID_HANDLE_VALUE &&
        strcmp(other->master_name, state->master_name) == 0) {
      return true;
    }
  }
  return false;
}
