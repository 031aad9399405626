// POSIX layer, internal: the handle table.
//
// A HANDLE names one kernel-like object (file, event, waitable timer,
// thread).  Handle values are multiples of 4 from 0x100 upwards and are never
// reused, so a stale handle fails with ERROR_INVALID_HANDLE instead of
// reaching another object.  Objects are reference counted: a pending lock
// request keeps its event alive after the caller closed the event's handle,
// as the Windows kernel does.
#ifndef ZARN_PLATFORM_POSIX_HANDLES_H
#define ZARN_PLATFORM_POSIX_HANDLES_H

#include <memory>

#include "platform/win32.h"

namespace zarn_posix {

enum class Kind { kFile, kEvent, kTimer, kThread };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  // Runs once, on the CloseHandle that removes the object from the table.
  // Returns FALSE with the last error set when the close fails.
  virtual BOOL on_close() { return TRUE; }
  const Kind kind;
};

HANDLE handle_insert(std::shared_ptr<Object> object);
// nullptr for INVALID_HANDLE_VALUE, NULL, closed or unknown handles.
std::shared_ptr<Object> handle_get(HANDLE handle);
std::shared_ptr<Object> handle_remove(HANDLE handle);

template <class T>
std::shared_ptr<T> handle_get_as(HANDLE handle, Kind kind) {
  std::shared_ptr<Object> object = handle_get(handle);
  if (!object || object->kind != kind) return nullptr;
  return std::static_pointer_cast<T>(object);
}

// Every exported call of the layer starts here: a thread that SuspendThread
// has marked stops at its next call into the layer and never returns from it
// while suspended (threads.cpp).  Sleep and the waits are safe points too.
void checkpoint();

// Sets an event object (events.cpp); used by the completion of file requests.
void event_signal(Object* event);

}  // namespace zarn_posix

#endif
