// The paired lock sequence: two participants (two threads of this process,
// or two processes on two hosts) each own one check file, open the other's,
// and step together through lock conflicts, meeting at synchronisation
// points.
#include "base/scope_guard.h"
#include "fileops/check_name.h"
#include "fileops/fileops.h"
#include "paired/paired_test.h"
#include "paired/partner_reasons.h"
#include "report/report.h"
#include "sync/sync.h"

namespace {

// Not yet ended; otherwise `end` holds the value the sequence ends with.
const int kGoOn = 2;

struct Participant {
  const RunOptions* options;
  int32_t target;
  int32_t naming;  // the mode that names the check files (the frame's)
  SyncState* sync;
  CheckFileSlot* slot;
  LockWaits waits;
  ErrorInfo error;
  int64_t due_time;
  int overall;  // 1 once any group went NG
  int end;
  // The other participant's reasons, when one of the two prints nothing:
  // kept in them by that one (`keeps`), printed from them by the other.
  PartnerReasons* reasons;
  bool keeps;
};

// A processing group of the sequence.  The participant that prints closes
// it with the other's reasons for it: a check of the other's that failed
// in it makes it NG too.
class SequenceGroup {
 public:
  SequenceGroup(Participant& p, int group) : id(group), p_(p) {
    begin_group(id);
    if (p_.keeps) partner_enters_group(p_.reasons, id);
  }
  ~SequenceGroup() {
    if (p_.keeps) {
      partner_enters_group(p_.reasons, 0);
    } else if (p_.reasons != nullptr && show_partner_group_reasons(p_.reasons, id)) {
      result = p_.overall = kResultNg;
    }
    end_group(id, result);
  }
  SequenceGroup(const SequenceGroup&) = delete;
  SequenceGroup& operator=(const SequenceGroup&) = delete;

  const int id;
  int result = kResultOk;

 private:
  Participant& p_;
};

// Right after the "!" line that says why.
void mark_ng(Participant& p, SequenceGroup& g) {
  g.result = kResultNg;
  p.overall = kResultNg;
  if (p.keeps) {
    partner_group_ng(p.reasons, g.id);
  } else if (p.reasons != nullptr) {
    main_group_failure(p.reasons, g.id, p.error);
  }
}

// Around every synchronisation of the participant that keeps its reasons.
template <class F>
auto synchronising(bool keeps, PartnerReasons* reasons, F sync) -> decltype(sync()) {
  if (keeps) partner_syncing(reasons, true);
  const auto result = sync();
  if (keeps) partner_syncing(reasons, false);
  return result;
}

// Each step below returns false once the sequence has ended (p.end set).

bool sync_point(Participant& p) {
  if (synchronising(p.keeps, p.reasons, [&] { return sync_step(p.sync); }) == 0) return true;
  p.end = kResultAborted;
  return false;
}

// A lock or unlock call on byte 0 of `file`, with this participant's
// events, timer and ErrorInfo.
bool lock_byte_of(Participant& p, HANDLE file, LockKind kind, LockWait wait, LockReport report) {
  return lock_with_timeout(p.options, file, p.waits.lock_event, p.waits.wait_timer, kind, wait,
                           &p.error, report) == kOpOk;
}
bool unlock_byte_of(Participant& p, HANDLE file) {
  return unlock_with_timeout(p.options, file, p.waits.lock_event, p.waits.wait_timer,
                             &p.error) == kOpOk;
}

bool lock_own(Participant& p, LockKind kind) {
  report_line(message_text(kind == LockKind::kExclusive ? kMsgLockOwnExclusive
                                                        : kMsgLockOwnShared));
  if (lock_byte_of(p, p.slot->own_handle, kind, LockWait::kWait, LockReport::kReported)) {
    return true;
  }
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
bool lock_and_release_own(Participant& p, LockKind kind) {
  return lock_own(p, kind) && sync_point(p) && unlock_own(p) && sync_point(p);
}

// A waiting request on the partner's file, left outstanding while this
// participant releases its own lock.
struct PendingLock {
  OverlappedRequest request;
  PendingLock(Participant& p, LockKind kind)
      : request(p.slot->partner_handle, p.waits.pending_event, [&](RequestBlock* block) {
          return try_lock(p.slot->partner_handle, kind, &block->record) == kOpOk;
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
bool granted_and_released(Participant& p, SequenceGroup& g, LockKind kind, LockWait wait) {
  report_line(message_text(kind == LockKind::kExclusive ? kMsgLockPartnerExclusive
                                                        : kMsgLockPartnerShared));
  if (lock_byte_of(p, p.slot->partner_handle, kind, wait, LockReport::kReported)) {
    return unlock_partner(p);
  }
  mark_ng(p, g);
  return true;
}

// Groups 57 and 67: the other participant took and released its lock, so a
// not-waiting exclusive lock on its file must be granted.
bool released_byte_group(Participant& p, int id) {
  SequenceGroup g(p, id);
  return granted_and_released(p, g, LockKind::kExclusive, LockWait::kNoWait) && sync_point(p);
}

// Group 58: a shared lock stacks on the other participant's shared lock.
bool shared_on_shared_group(Participant& p) {
  SequenceGroup g(p, kGroupSharedOnShared);
  return sync_point(p) && granted_and_released(p, g, LockKind::kShared, LockWait::kWait);
}

// Groups 59 and 69: the other participant holds its byte, so a not-waiting
// exclusive lock on it must be refused.
bool held_byte_group(Participant& p, int id, int32_t wrongly_granted) {
  SequenceGroup g(p, id);
  if (!sync_point(p)) return false;
  report_line(message_text(kMsgLockPartnerExclusive));
  if (lock_byte_of(p, p.slot->partner_handle, LockKind::kExclusive, LockWait::kNoWait,
                   LockReport::kQuiet)) {
    // The lock stays held; the clean-up releases it.
    p.error = report_failure(wrongly_granted, 0);
    mark_ng(p, g);
  } else {
    p.error = report_failure(kErrExclusiveNoWait, GetLastError(), true);
  }
  return true;
}

// What follows a waited group: 60 and 68 lock the own byte again
// (exclusive) for the groups after them, 68 then meets once more.
enum class AfterWait { kNothing, kRelock, kRelockAndSync };

struct WaitedGroup {
  int id;
  LockKind kind;      // the request's
  int opening_syncs;  // the other's lock is in place only after these
  AfterWait after;
};

// Groups 60, 68 and 70: each participant's waiting request on the other's
// file is granted when the other releases its own lock meanwhile.
bool waited_group(Participant& p, const WaitedGroup& w) {
  SequenceGroup g(p, w.id);
  for (int i = 0; i < w.opening_syncs; ++i) {
    if (!sync_point(p)) return false;
  }
  PendingLock request(p, w.kind);
  if (!sync_point(p)) return false;  // both requests are outstanding now
  if (!unlock_own(p)) return false;  // grants the other's request
  const bool exclusive = w.kind == LockKind::kExclusive;
  report_line(message_text(exclusive ? kMsgLockPartnerExclusive : kMsgLockPartnerShared));
  const ErrorInfo error = request.evaluate(p, exclusive ? kErrExclusiveWaiting : kErrSharedWaiting);
  if (error.code != 0) {
    p.error = error;
    report_error(&p.error);
    mark_ng(p, g);
  }
  // Released whether granted or not: an ungranted request makes this unlock fail.
  if (!sync_point(p) || !unlock_partner(p) || !sync_point(p)) return false;
  if (w.after == AfterWait::kNothing) return true;
  return lock_own(p, LockKind::kExclusive) && (w.after == AfterWait::kRelock || sync_point(p));
}

// The groups in order: 57, 67, 59, 58, 60, 69, 68, 70 for the shared
// environment settings path; 67, 69, 70 for the path to be checked.
void run_groups(Participant& p, const PairedShape& shape) {
  const bool share = p.target == kTargetShare;
  const int32_t* opening = shape.opening_syncs;
  if (!sync_point(p)) return;
  if (share) {
    if (!lock_and_release_own(p, LockKind::kShared)) return;
    if (!released_byte_group(p, kGroupExclusiveAfterShared)) return;
  }
  if (!lock_and_release_own(p, LockKind::kExclusive)) return;
  if (!released_byte_group(p, kGroupExclusiveAfterExclusive)) return;
  // Held into the next groups; no Sync here, each of them begins with one.
  if (!lock_own(p, share ? LockKind::kShared : LockKind::kExclusive)) return;
  if (share) {
    if (!held_byte_group(p, kGroupNoWaitOnShared, kErrExclusiveOnShared)) return;
    if (!shared_on_shared_group(p)) return;
    if (!waited_group(p, {kGroupWaitOnShared, LockKind::kExclusive, opening[0],
                          AfterWait::kRelock})) {
      return;
    }
  }
  if (!held_byte_group(p, kGroupNoWaitOnExclusive, kErrExclusiveOnExclusive)) return;
  if (share && !waited_group(p, {kGroupSharedWaitOnExclusive, LockKind::kShared, opening[1],
                                 AfterWait::kRelockAndSync})) {
    return;
  }
  waited_group(p, {kGroupWaitOnExclusive, LockKind::kExclusive, opening[2], AfterWait::kNothing});
}

bool report_open_failure(Participant& p) {
  p.error = report_failure(not_opened_code(p.target), GetLastError());
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
  name_check_file(p.naming, target_folder(p.options, p.target), role, &own);
  slot_set_name(p.slot->own_file_name, own.path);
  if (announce_and_open(kMsgOpeningOwn, own, &p.slot->own_handle, OPEN_ALWAYS) ==
      INVALID_HANDLE_VALUE) {
    return report_open_failure(p);
  }
  CheckFileName partner;
  name_check_file(p.naming, target_folder(p.options, p.target), role ^ 1, &partner);
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
  const bool keeps = frame.partner_reasons != nullptr && !output_enabled;
  if (keeps) start_keeping_reasons(frame.partner_reasons);
  ScopeGuard stop_keeping([keeps] {
    if (keeps) stop_keeping_reasons();
  });
  SyncState* sync =
      synchronising(keeps, frame.partner_reasons, [&] { return enter_paired_test(options, frame, script); });
  if (sync == nullptr) {
    report_line(message_text(kMsgSyncSetupFailed));
    return kResultAborted;
  }
  const int role = sync->role;
  Participant p{options, target, frame.sync_mode, sync, frame.slots[role], {nullptr, nullptr, nullptr},
                {0, 0}, due_time_of(options->timeout_sec), kResultOk, kGoOn,
                frame.partner_reasons, keeps};
  ScopeGuard end([&] {
    close_lock_waits(&p.waits);
    synchronising(keeps, frame.partner_reasons, [&] {
      leave_paired_test(frame, role);
      return 0;
    });
  });
  if (make_waits_and_open_files(p, role)) run_groups(p, shape);
  return p.end != kGoOn ? p.end : p.overall;
}
