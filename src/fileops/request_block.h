// Records of overlapped requests that may outlive the call that started them.
//
// A request that went pending (a waiting lock, a slow read or write) may
// still write its status into its OVERLAPPED record after the caller gave up
// waiting: on Windows a cancelled request completes asynchronously, and Wine
// leaves a waiting lock pending while reporting success.  So such records
// live on the heap, and a block whose request ever went pending is parked
// for the life of the process instead of being freed.
#ifndef ZARN_FILEOPS_REQUEST_BLOCK_H
#define ZARN_FILEOPS_REQUEST_BLOCK_H

#include "platform/win32.h"

struct RequestBlock {
  OVERLAPPED record;  // offset 0, hEvent = the caller's event
  char buffer[12];    // data of a read or write request
};

// A zeroed block whose record carries `event`; nullptr when out of memory.
RequestBlock* new_request_block(HANDLE event);
// For a request that never went pending (granted or refused at once).
void free_request_block(RequestBlock* block);
// For a request that went pending: asks the system to cancel it (CancelIoEx
// on `file`, which may be INVALID_HANDLE_VALUE once the handle is closed) and
// keeps the block until the process ends.
void park_request_block(HANDLE file, RequestBlock* block);

#endif
