// POSIX layer, internal: lock requests that wait.
//
// A waiting LockFileEx that cannot be granted at once is queued here.  One
// poller thread retries the queue every few milliseconds while it is not
// empty; an unlock or a close in this process retries it at once, so a
// request waiting on another handle of the process is granted before that
// UnlockFileEx or CloseHandle returns, as on Windows.  A granted request gets
// Internal = 0 and its event set; a cancelled one STATUS_CANCELLED.  Records
// are written only under lock_state_mutex() and only while queued, so once a
// request has left the queue (granted, cancelled, or its handle closed) the
// layer never touches its OVERLAPPED again.
#ifndef ZARN_PLATFORM_POSIX_LOCK_WAITERS_H
#define ZARN_PLATFORM_POSIX_LOCK_WAITERS_H

#include <stdint.h>

#include <condition_variable>
#include <memory>

#include "platform/posix/file_object.h"

namespace zarn_posix {

// NTSTATUS values the layer leaves in OVERLAPPED.Internal besides those of
// win32.h.
constexpr ULONG_PTR kStatusEndOfFile = 0xC0000011u;
constexpr ULONG_PTR kStatusAccessDenied = 0xC0000022u;
constexpr ULONG_PTR kStatusUnsuccessful = 0xC0000001u;

// The Windows error of a final NTSTATUS (0 for success).
DWORD win_error_of_status(ULONG_PTR status);

// Queues a request (the record's Internal already STATUS_PENDING) and makes
// sure the poller runs.  False with the last error set when no poller thread
// can be started.  lock_state_mutex held.
bool waiter_add_locked(std::shared_ptr<FileObject> file, OVERLAPPED* ov,
                       std::shared_ptr<Object> event, uint64_t offset, uint64_t length,
                       bool exclusive);

// Tries every queued request once, in arrival order.  lock_state_mutex held.
void waiters_grant_locked();

// Ends the queued requests of `file` (all, or only that of `ov` when not
// NULL) with STATUS_CANCELLED; returns how many.  lock_state_mutex held.
int waiters_cancel_locked(const FileObject* file, const OVERLAPPED* ov);

// Whether `ov` is the record of a queued request.  lock_state_mutex held.
bool waiter_queued_locked(const OVERLAPPED* ov);

// Notified (with lock_state_mutex) whenever a queued request ends.
std::condition_variable& waiters_done_cv();

}  // namespace zarn_posix

#endif
