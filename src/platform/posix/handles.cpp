// POSIX layer: the handle table and CloseHandle.
#include "platform/posix/handles.h"

#include <mutex>
#include <unordered_map>
#include <utility>

namespace zarn_posix {
namespace {

std::mutex table_mutex;
std::unordered_map<uintptr_t, std::shared_ptr<Object>>& table() {
  static auto* t = new std::unordered_map<uintptr_t, std::shared_ptr<Object>>();
  return *t;
}
uintptr_t next_value = 0x100;

}  // namespace

HANDLE handle_insert(std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> hold(table_mutex);
  uintptr_t value = next_value;
  next_value += 4;
  table().emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> handle_get(HANDLE handle) {
  std::lock_guard<std::mutex> hold(table_mutex);
  auto it = table().find(reinterpret_cast<uintptr_t>(handle));
  return it == table().end() ? nullptr : it->second;
}

std::shared_ptr<Object> handle_remove(HANDLE handle) {
  std::lock_guard<std::mutex> hold(table_mutex);
  auto it = table().find(reinterpret_cast<uintptr_t>(handle));
  if (it == table().end()) return nullptr;
  std::shared_ptr<Object> object = std::move(it->second);
  table().erase(it);
  return object;
}

}  // namespace zarn_posix

BOOL CloseHandle(HANDLE handle) {
  zarn_posix::checkpoint();
  std::shared_ptr<zarn_posix::Object> object = zarn_posix::handle_remove(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return object->on_close();
}
