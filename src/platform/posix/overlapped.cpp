// POSIX layer: GetOverlappedResult and CancelIoEx.
//
// Reads and writes complete before their call returns, so only waiting lock
// requests are ever pending (lock_waiters.h).  As on Windows,
// GetOverlappedResult reads the record and looks at the handle no further.
#include <mutex>

#include "platform/posix/lock_waiters.h"
#include "platform/posix/locks.h"
#include "platform/posix/threads.h"

using namespace zarn_posix;

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
  checkpoint();
  if (!ov) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_lock<std::mutex> hold(lock_state_mutex());
  if (wait && ov->Internal == STATUS_PENDING) {
    hold.unlock();
    {
      SafePoint safe_point;
      hold.lock();
      // A record that no request of this layer owns would never change:
      // answer "incomplete" instead of blocking for ever.
      while (ov->Internal == STATUS_PENDING && waiter_queued_locked(ov)) {
        waiters_done_cv().wait(hold);
      }
      hold.unlock();
    }
    hold.lock();
  }
  ULONG_PTR status = ov->Internal;
  ULONG_PTR bytes = ov->InternalHigh;
  hold.unlock();
  if (transferred) *transferred = static_cast<DWORD>(bytes);
  DWORD error = win_error_of_status(status);
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED ov) {
  checkpoint();
  std::shared_ptr<FileObject> f = file_of(file);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> hold(lock_state_mutex());
  if (waiters_cancel_locked(f.get(), ov) == 0) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}
