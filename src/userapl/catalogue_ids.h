// The catalogue's messages, groups and error codes that the linkage check
// prints, by name.
#ifndef ZARN_USERAPL_CATALOGUE_IDS_H
#define ZARN_USERAPL_CATALOGUE_IDS_H

#include <stdint.h>

enum : int {
  kMsgCheckOpenableFromApp = 4,
  kMsgCreateWithinTimeout = 6,
  kMsgDeleted = 11,
  kMsgWaitingForSyncFileDeletion = 17,
  kMsgCreatingSyncFile = 18,
  kMsgCloseAfterCheck = 19,
  kMsgOpenTestStarting = 26,
  kMsgOpenTestEnding = 27,
  kMsgOpenFromApp = 28,
  kMsgCheckNotOpenableFromApp = 29,
  kMsgCreateFromApp = 30,
  kMsgCreatingTargetFile = 31,
  kMsgTargetFileDeleted = 32,
  kMsgOpeningTargetUnshared = 33,
  kMsgClosingTargetFile = 34,
  kMsgCloseAfterCreating = 35,
  kMsgCreatingSyncThread = 92,
  kMsgStoppingSyncThread = 93,
  kMsgSyncFileDeletionFailed = 95,
  kMsgSyncFileDeleted = 97,
  kMsgOpeningForRead = 110,
  kMsgOpeningForReadWrite = 111,

  kGroupAppOpensUnshared = 44,
  kGroupAppOpensToolsFile = 45,
  kGroupToolOpensUnshared = 48,
  kGroupToolOpensForRead = 49,
  kGroupToolOpensForReadWrite = 50,
};

enum : int32_t {
  kErrPathFileNotOpened = 5,
  kErrTimedOut = 22,
  kErrPathAnalysis = 25,
  kErrTargetNotOpened = 27,
  kErrTargetWronglyOpened = 28,
  kErrSyncFileCreation = 29,
  kErrSyncFileWatch = 30,
  kErrWatcherThread = 31,
};

#endif
