// Opening, locking and deleting check files: a thin layer over the file API.
// Every check file is overlapped, so that a request that does not complete
// at once is waited for under the -t time limit instead of blocking the
// thread; every lock covers byte 0, length 1.
#ifndef ZARN_FILEOPS_FILEOPS_H
#define ZARN_FILEOPS_FILEOPS_H

#include <stdint.h>

#include "base/run_options.h"
#include "platform/win32.h"
#include "report/report.h"

enum : int {
  kOpOk = 0,
  kOpFailed = -1,
  kOpPending = -2,   // try_lock: the request is queued
  kOpTimedOut = -3,  // wait_overlapped: the timer fired first
};

// --- Files (files.cpp) ---------------------------------------------------

// Security attributes that give every account full access: a descriptor
// with a present but null DACL.  Check files and synchronisation files are
// created with them so that any host's account can open, lock and delete.
struct NullDaclAttributes {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;  // points at `descriptor`: do not copy the record
};
// Built anew for each open; the results of the two descriptor calls are not
// looked at (a descriptor that failed to build still yields a valid open).
void init_null_dacl(NullDaclAttributes* out);

// Opens a file the tool makes and deletes (check files, synchronisation
// files, the signal file) with the null DACL, never through a symbolic link
// at its name: another user may plant one there, in a folder all may write,
// to turn the tool's writes and deletions on a file of theirs choosing.  A
// link, folder, FIFO or device at the name is refused with
// ERROR_ACCESS_DENIED and left untouched.
HANDLE open_plain_file(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// A check file: open_plain_file, overlapped.
HANDLE open_test_file(const char* name, DWORD access, DWORD share, DWORD disposition);
int close_handle(HANDLE* file);

// Deletions made all at once, each on a thread of its own.  On a slow share
// every deletion takes a round trip; a clean-up at an interrupt, which must
// let the process end promptly, starts them together and waits once.
struct Deletion {
  char name[261];
  BOOL went;
  DWORD error;    // why it did not go
  HANDLE thread;  // until finish_deletions; nullptr when made on the caller's thread
};
struct DeletionBatch {
  int count;
  Deletion deletions[4];
};
// Starts deleting `name` (at most 260 characters), unless the batch already
// holds it; a batch holds four.  Made at once on the calling thread when no
// thread can be started.
void start_deletion(DeletionBatch* batch, const char* name);
// Waits until every deletion of the batch has ended.
void finish_deletions(DeletionBatch* batch);

// --- Overlapped requests (requests.cpp) ----------------------------------

// timeout_sec as a relative waitable-timer due time (100 ns units, negative).
int64_t due_time_of(int32_t timeout_sec);
int wait_overlapped(HANDLE file, OVERLAPPED* record, HANDLE timer, int64_t due_time);

// The record of a request and the data of a read or write.  A request that
// went pending may still write its status into its record after the caller
// gave up waiting: on Windows a cancelled request completes asynchronously,
// and Wine leaves a waiting lock pending while reporting success.  So the
// block lives on the heap, and one whose request ever went pending is
// cancelled and kept for the life of the process instead of being freed.
struct RequestBlock {
  OVERLAPPED record;  // offset 0, hEvent = the caller's event
  char buffer[12];
};
RequestBlock* new_request_block(HANDLE event);  // zeroed; nullptr when out of memory
void retire_request_block(HANDLE file, RequestBlock* block, bool went_pending);

// One request on a block of its own: started when made, by `start`, a call
// that answers as the file API does (TRUE done, FALSE with ERROR_IO_PENDING
// queued, FALSE otherwise refused or failed); its block retired by retire()
// or on the way out of the scope.  The last error is kept by both.
class OverlappedRequest {
 public:
  template <class Start>
  OverlappedRequest(HANDLE file, HANDLE event, Start start)
      : file_(file), block_(new_request_block(event)) {
    if (block_ == nullptr) {
      no_memory_ = true;
      error_ = ERROR_NOT_ENOUGH_MEMORY;
      return;
    }
    if (start(block_)) {
      outcome_ = kOpOk;
      return;
    }
    error_ = GetLastError();
    outcome_ = error_ == ERROR_IO_PENDING ? kOpPending : kOpFailed;
  }
  ~OverlappedRequest() { retire(); }
  OverlappedRequest(const OverlappedRequest&) = delete;
  OverlappedRequest& operator=(const OverlappedRequest&) = delete;

  // kOpOk done at once, kOpPending queued, kOpFailed (error() says why).
  int outcome() const { return outcome_; }
  DWORD error() const { return error_; }
  bool no_memory() const { return no_memory_; }
  OVERLAPPED* record() { return &block_->record; }

  // A queued request waited for with wait_overlapped; otherwise the outcome
  // of the start.  kOpFailed leaves the reason in error() and the last error.
  int wait(HANDLE timer, int64_t due_time);
  void retire();

 private:
  HANDLE file_;
  RequestBlock* block_;
  bool no_memory_ = false;
  int outcome_ = kOpFailed;
  DWORD error_ = 0;
};

// --- Locks of byte 0 (locks.cpp) -----------------------------------------

// A lock's kind; whether the call waits for a conflicting holder; whether a
// refusal is reported by the call (quiet: the caller shows an expected one).
enum class LockKind { kShared, kExclusive };
enum class LockWait { kNoWait, kWait };
enum class LockReport { kQuiet, kReported };

int try_lock(HANDLE file, LockKind kind, OVERLAPPED* record);
int unlock_byte(HANDLE file);
int lock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                      LockKind kind, LockWait wait, ErrorInfo* error, LockReport report);
int unlock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                        ErrorInfo* error);

// The events and the timer that one thread's lock requests wait with;
// nullptr where not created.  pending_event serves a request left
// outstanding while lock_event serves the calls made meanwhile.
struct LockWaits {
  HANDLE lock_event;
  HANDLE pending_event;
  HANDLE wait_timer;
};
// Creates lock_event, pending_event when `with_pending`, then wait_timer;
// false after reporting the first failure: {32, error} for an event, {33,
// error} for the timer.
bool create_lock_waits(LockWaits* waits, bool with_pending);
void close_lock_waits(LockWaits* waits);

#endif
