// The message catalogue and the error table: every message, group and error
// code by name, and their texts in the language of the run.  The numbers are
// those of the catalogue (catalogue.cpp); each has one name.
#ifndef ZARN_REPORT_CATALOGUE_H
#define ZARN_REPORT_CATALOGUE_H

#include <stdint.h>

// MessageId.  A group's id is the message that names it.
enum MessageId : int {
  // The frame of the report and standard error.
  kMsgGroupFinished = 1,  // format of a group's finish line
  kMsgGroupStarted = 2,   // format of a group's start line
  kMsgSystemError = 5,
  kMsgNoMemory = 14,
  kMsgLogFileFailed = 16,
  kMsgTargetFileExists = 23,
  kMsgTargetFileIsFolder = 24,
  kMsgTargetFileFolderInvalid = 25,
  kMsgSharePathInvalid = 36,
  kMsgTargetPathInvalid = 37,
  kMsgJsonFileFailed = 112,

  // Operation, check-target and processing-type groups.
  kGroupSharePath = 20,
  kGroupTargetPath = 21,
  kGroupTargetFile = 22,
  kGroupLocking = 71,
  kGroupOpening = 72,
  kGroupDeletion = 73,
  kGroupReadWrite = 74,
  kGroupLinkageCheck = 88,
  kGroupMutualCheck = 89,
  kGroupSingleCheck = 90,

  // Processing groups.
  kGroupAppOpensUnshared = 44,
  kGroupAppOpensToolsFile = 45,
  kGroupWriting = 46,
  kGroupReading = 47,
  kGroupToolOpensUnshared = 48,
  kGroupToolOpensForRead = 49,
  kGroupToolOpensForReadWrite = 50,
  kGroupOpenExisting = 51,
  kGroupCreateExisting = 52,
  kGroupOpenMissing = 53,
  kGroupCreateMissing = 54,
  kGroupReleaseShared = 55,
  kGroupSharedWaiting = 56,
  kGroupExclusiveAfterShared = 57,
  kGroupSharedOnShared = 58,
  kGroupNoWaitOnShared = 59,
  kGroupWaitOnShared = 60,
  kGroupDeleteOwn = 61,
  kGroupOpenPartners = 62,
  kGroupDeletePartners = 63,
  kGroupReleaseExclusive = 64,
  kGroupExclusiveNoWait = 65,
  kGroupExclusiveWaiting = 66,
  kGroupExclusiveAfterExclusive = 67,
  kGroupSharedWaitOnExclusive = 68,
  kGroupNoWaitOnExclusive = 69,
  kGroupWaitOnExclusive = 70,

  // Check files.
  kMsgEventFailed = 3,
  kMsgPartnerThreadFailed = 7,
  kMsgReading = 8,
  kMsgWriting = 9,
  kMsgOpening = 10,
  kMsgDeleted = 11,
  kMsgClosing = 13,
  kMsgUnlockOwn = 38,
  kMsgLockOwnShared = 39,
  kMsgLockOwnExclusive = 40,
  kMsgOpeningOwn = 41,
  kMsgClosingOwn = 42,
  kMsgUnlockPartner = 83,
  kMsgLockPartnerShared = 84,
  kMsgLockPartnerExclusive = 85,
  kMsgOpeningPartners = 86,
  kMsgDeletingPartners = 87,

  // The synchronisation of two parties.
  kMsgReleasingResources = 15,
  kMsgCreatingEndWaitFile = 43,
  kMsgReleasingPreviousMarker = 76,
  kMsgPartnerMarkerSet = 77,
  kMsgCheckingPartnerCanEnd = 78,
  kMsgWaitingForPartnerEnd = 79,
  kMsgCheckingPartnerState = 80,
  kMsgCheckingPartnerLives = 81,
  kMsgWaitingForPartnerMarker = 82,
  kMsgSynchronized = 91,
  kMsgNamingSyncFiles = 94,
  kMsgOpeningSyncFile = 96,
  kMsgAfterRendezvous = 98,
  kMsgSyncFinished = 99,
  kMsgSyncFinishing = 100,
  kMsgSyncSetupFailed = 101,
  kMsgSyncInitializing = 102,
  kMsgLeavingRendezvous = 103,
  kMsgEnteringRendezvous = 104,
  kMsgSyncSetupDone = 105,
  kMsgSyncSetupStarting = 106,
  kMsgResettingMarker = 107,
  kMsgSettingMarker = 108,
  kMsgBeforeRendezvous = 109,

  // The external application linkage check.
  kMsgCheckOpenableFromApp = 4,
  kMsgCreateWithinTimeout = 6,
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
  // 12 (the text of 10 again) and 75 are in the catalogue, printed by no step.
};

// ErrorCode: the record of the error table that an error line shows.
enum ErrorCode : int32_t {
  kErrShareFileNotOpened = 4,
  kErrPathFileNotOpened = 5,
  kErrShareFileWronglyOpened = 6,
  kErrPathFileWronglyOpened = 7,
  kErrShareFileOpenError = 8,
  kErrPathFileOpenError = 9,
  kErrUnlockFailed = 10,
  kErrWriteFailed = 11,
  kErrReadFailed = 12,
  kErrExclusiveWaiting = 13,
  kErrSharedWaiting = 14,
  kErrExclusiveNoWait = 15,
  kErrSharedNoWait = 16,
  kErrSharedOnExclusive = 17,
  kErrExclusiveOnShared = 18,
  kErrExclusiveOnExclusive = 19,
  kErrNoMemory = 20,
  kErrHostName = 21,
  kErrTimedOut = 22,
  kErrDeleteFailed = 23,
  kErrPartnerEnded = 24,
  kErrPathAnalysis = 25,
  kErrSyncFileBesideTarget = 26,
  kErrTargetNotOpened = 27,
  kErrTargetWronglyOpened = 28,
  kErrSyncFileCreation = 29,
  kErrSyncFileWatch = 30,
  kErrWatcherThread = 31,
  kErrEventFailed = 32,
  kErrTimerFailed = 33,
  kErrThirdProcess = 34,
};

enum : int32_t { kJapanese = 0, kEnglish = 1 };  // Language
// The language of the run's report lines and messages; the JSON report is
// English whatever it is.
extern int32_t current_language;

// Callers pass only catalogue ids; the range is not checked.
const char* catalogue_text(int id, int32_t language);
// catalogue_text in current_language.
const char* message_text(int id);
// The table text of `code` in `language`, or nullptr when no record carries it.
const char* error_text(int64_t code, int32_t language);

#endif
