// Deletions made all at once, each on a thread of its own.  On a slow share
// every deletion takes a round trip; a clean-up at an interrupt, which must
// let the process end promptly, starts them together and waits once.
#ifndef ZARN_FILEOPS_DELETION_BATCH_H
#define ZARN_FILEOPS_DELETION_BATCH_H

#include "platform/win32.h"

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

#endif
