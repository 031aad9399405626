// Opening check files and locking their first byte.  A thin layer over the
// file API: every check file is overlapped, every lock covers byte 0, length 1.
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

// timeout_sec as a relative waitable-timer due time (100 ns units, negative).
int64_t due_time_of(int32_t timeout_sec);

HANDLE open_test_file(const char* name, DWORD access, DWORD share, DWORD disposition);
int try_lock(HANDLE file, int exclusive, OVERLAPPED* record);
int unlock_byte(HANDLE file);
int close_handle(HANDLE* file);
int wait_overlapped(HANDLE file, OVERLAPPED* record, HANDLE timer, int64_t due_time);
int lock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                      int exclusive, int wait, ErrorInfo* error, int report);
int unlock_with_timeout(const RunOptions* options, HANDLE file, HANDLE event, HANDLE timer,
                        ErrorInfo* error);

#endif
