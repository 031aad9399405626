// The paired lock sequence: two participants (two threads of this process,
// or two processes on two hosts) each own one check file, open the other's,
// and step together through lock conflicts, meeting at synchronisation
// points.
#include "base/scope_guard.h"
#include "fileops/check_name.h"
#include "fileops/fileops.h"
#include "paired/paired_test.h"
#include "report/report.h"
#include "sync/sync.h"

namespace {

// Not yet ended; otherwise `end` holds the value the sequence ends with.
const int kGoOn = 2;

struct Participant {
  const RunOptions* options;
  int32_t target;
  SyncState* sync;
  CheckFileSlot* slot;
  LockWaits waits;
  ErrorInfo error;
  int64_t due_time;
  int overall;  // 1 once any group went NG
  int end;
};

void mark_ng(Participant& p, GroupGuard& g) {
  g.result = kResultNg;
  p.overall = kResultNg;
}

// Each step below returns false once the sequence has ended (p.end set).

bool sync_point(Participant& p) {
  if (sync_step(p.sync) == 0) return true;
  p.end = kResultAborted;
  return false;
}

// A lock or unlock call on byte 0 of `file`, with this participant's
// events, timer and ErrorInfo.
bool lock_byte_of(Participant& p, HANDLE file, int exclusive, int wait, int report) {
  return lock_with_timeout(p.options, file, p.waits.lock_event, p.waits.wait_timer, exclusive,
                           wait, &p.error, report) == kOpOk;
}
bool unlock_byte_of(Participant& p, HANDLE file) {
  return unlock_with_timeout(p.options, file, p.waits.lock_event, p.waits.wait_timer,
                             &p.error) == kOpOk;
}

bool lock_own(Participant& p, int exclusive) {
  report_line(message_text(exclusive ? kMsgLockOwnExclusive : kMsgLockOwnShared));
  if (lock_byte_of(p, p.slot->own_handle, exclusive, 1, 1)) return true;
  p.end = kResultNg;
  return false;
}

bool unlock_with_line(Participant& p, int msg, HANDLE file) {
  report_line(message_text(msg));
  if (unlock_byte_of(p, file)) return true;
  p.end = kResultNg;
  return false;
}
bool unlock_own(Participant& p) { return unlock_with_line(p, kMsgUnlockOwn, p.slot->own_handle); }
bool unlock_partner(Participant& p) {
  return unlock_with_line(p, kMsgUnlockPartner, p.slot->partner_handle);
}

// Lock own, Sync, Unlock own, Sync: leaves the own byte free again.
bool lock_and_release_own(Participant& p, int exclusive) {
  return lock_own(p, exclusive) && sync_point(p) && unlock_own(p) && sync_point(p);
}

// A waiting request on the partner's file, left outstanding while this
// participant releases its own lock.
struct PendingLock {
  OverlappedRequest request;
  PendingLock(Participant& p, int exclusive)
      : request(p.slot->partner_handle, p.waits.pending_event, [&](RequestBlock* block) {
          return try_lock(p.slot->partner_handle, exclusive, &block->record) == kOpOk;
        }) {}

  // Waits for the request; the ErrorInfo of a failure, {0, 0} when granted.
  ErrorInfo evaluate(Participant& p, int32_t code) {
    const int waited = request.wait(p.waits.wait_timer, p.due_time);
    request.retire();
    if (waited == kOpTimedOut) return ErrorInfo{kErrTimedOut, 0};
    if (waited != kOpOk) return ErrorInfo{code, static_cast<int32_t>(request.error())};
    return ErrorInfo{0, 0};
  }
};

// A lock of the partner's byte that must be granted, released again at
// once; refused, the group is NG (the lock call printed why).
bool granted_and_released(Participant& p, GroupGuard& g, int exclusive, int wait) {
  report_line(message_text(exclusive ? kMsgLockPartnerExclusive : kMsgLockPartnerShared));
  if (lock_byte_of(p, p.slot->partner_handle, exclusive, wait, 1)) return unlock_partner(p);
  mark_ng(p, g);
  return true;
}

// Groups 57 and 67: the other participant took and released its lock, so a
// not-waiting exclusive lock on its file must be granted.
bool released_byte_group(Participant& p, int id) {
  GroupGuard g(id);
  return granted_and_released(p, g, 1, 0) && sync_point(p);
}

// Group 58: a shared lock stacks on the other participant's shared lock.
bool shared_on_shared_group(Participant& p) {
  GroupGuard g(kGroupSharedOnShared);
  return sync_point(p) && granted_and_released(p, g, 0, 1);
}

// Groups 59 and 69: the other participant holds its byte, so a not-waiting
// exclusive lock on it must be refused.
bool held_byte_group(Participant& p, int id, int32_t wrongly_granted) {
  GroupGuard g(id);
  if (!sync_point(p)) return false;
  report_line(message_text(kMsgLockPartnerExclusive));
  if (lock_byte_of(p, p.slot->partner_handle, 1, 0, 0)) {
    // The lock stays held; the clean-up releases it.
    p.error = ErrorInfo{wrongly_granted, 0};
    report_error(&p.error);
    mark_ng(p, g);
  } else {
    p.error = ErrorInfo{kErrExclusiveNoWait, static_cast<int32_t>(GetLastError())};
    report_error_plain(&p.error);
  }
  return true;
}

struct WaitedGroup {
  int id;
  int exclusive;       // the request's kind
  int opening_syncs;   // the other's lock is in place only after these
  bool relock;         // 60, 68: Lock own exclusive for the groups that follow
  bool trailing_sync;  // 68
};

// Groups 60, 68 and 70: each participant's waiting request on the other's
// file is granted when the other releases its own lock meanwhile.
bool waited_group(Participant& p, const WaitedGroup& w) {
  GroupGuard g(w.id);
  for (int i = 0; i < w.opening_syncs; ++i) {
    if (!sync_point(p)) return false;
  }
  PendingLock request(p, w.exclusive);
  if (!sync_point(p)) return false;  // both requests are outstanding now
  if (!unlock_own(p)) return false;  // grants the other's request
  report_line(message_text(w.exclusive ? kMsgLockPartnerExclusive : kMsgLockPartnerShared));
  const ErrorInfo error =
      request.evaluate(p, w.exclusive ? kErrExclusiveWaiting : kErrSharedWaiting);
  if (error.code != 0) {
    p.error = error;
    report_error(&p.error);
    mark_ng(p, g);
  }
  // Released whether granted or not: an ungranted request makes this unlock fail.
  if (!sync_point(p) || !unlock_partner(p) || !sync_point(p)) return false;
  if (w.relock && !lock_own(p, 1)) return false;
  if (w.trailing_sync && !sync_point(p)) return false;
  return true;
}

// The groups in order: 57, 67, 59, 58, 60, 69, 68, 70 for the shared
// environment settings path; 67, 69, 70 for the path to be checked.
void run_groups(Participant& p, const PairedShape& shape) {
  const bool share = p.target == kTargetShare;
  const int32_t* opening = shape.opening_syncs;
  if (!sync_point(p)) return;
  if (share) {
    if (!lock_and_release_own(p, 0)) return;
    if (!released_byte_group(p, kGroupExclusiveAfterShared)) return;
  }
  if (!lock_and_release_own(p, 1)) return;
  if (!released_byte_group(p, kGroupExclusiveAfterExclusive)) return;
  // Held into the next groups; no Sync here, each of them begins with one.
  if (!lock_own(p, share ? 0 : 1)) return;
  if (share) {
    if (!held_byte_group(p, kGroupNoWaitOnShared, kErrExclusiveOnShared)) return;
    if (!shared_on_shared_group(p)) return;
    if (!waited_group(p, {kGroupWaitOnShared, 1, opening[0], true, false})) return;
  }
  if (!held_byte_group(p, kGroupNoWaitOnExclusive, kErrExclusiveOnExclusive)) return;
  if (share && !waited_group(p, {kGroupSharedWaitOnExclusive, 0, opening[1], true, true})) return;
  waited_group(p, {kGroupWaitOnExclusive, 1, opening[2], false, false});
}

const char* folder_of(const Participant& p) {
  return p.target == kTargetShare ? p.options->share_path : p.options->target_path;
}

bool report_open_failure(Participant& p) {
  p.error = ErrorInfo{p.target == kTargetShare ? kErrShareFileNotOpened : kErrPathFileNotOpened,
                      static_cast<int32_t>(GetLastError())};
  report_error(&p.error);
  p.end = kResultNg;
  return false;
}

// Events, timer and both files; false once the sequence has ended.
bool make_waits_and_open_files(Participant& p, int role) {
  if (!create_lock_waits(&p.waits, true)) {
    p.end = kResultNg;
    return false;
  }
  // Whichever participant comes first creates both files; the other opens them.
  CheckFileName own;
  name_check_file(p.options->mode, folder_of(p), role, &own);
  slot_set_name(p.slot->own_file_name, own.path);
  if (announce_and_open(kMsgOpeningOwn, own, &p.slot->own_handle, OPEN_ALWAYS) ==
      INVALID_HANDLE_VALUE) {
    return report_open_failure(p);
  }
  CheckFileName partner;
  name_check_file(p.options->mode, folder_of(p), role ^ 1, &partner);
  slot_set_name(p.slot->partner_file_name, partner.path);
  if (announce_and_open(kMsgOpeningPartners, partner, &p.slot->partner_handle, OPEN_ALWAYS) ==
      INVALID_HANDLE_VALUE) {
    return report_open_failure(p);
  }
  return true;
}

}  // namespace

int paired_lock_sequence(const RunOptions* options, int32_t target, const PairedFrame& frame,
                         const PairedShape& shape, int32_t script) {
  if (target != kTargetShare && target != kTargetPath) return kResultAborted;
  SyncState* sync = enter_paired_test(options, frame, script);
  if (sync == nullptr) {
    report_line(message_text(kMsgSyncSetupFailed));
    return kResultAborted;
  }
  const int role = sync->role;
  Participant p{options, target, sync, frame.slots[role], {nullptr, nullptr, nullptr},
                {0, 0}, due_time_of(options->timeout_sec), kResultOk, kGoOn};
  ScopeGuard end([&] {
    close_lock_waits(&p.waits);
    leave_paired_test(frame, role);
  });
  if (make_waits_and_open_files(p, role)) run_groups(p, shape);
  return p.end != kGoOn ? p.end : p.overall;
}
