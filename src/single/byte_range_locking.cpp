// The byte-range lock test: locks on one handle alone, then the paired lock
// sequence against a partner thread of this process.
#include "base/scope_guard.h"
#include "fileops/fileops.h"
#include "paired/paired_test.h"
#include "report/report.h"
#include "single/check_slots.h"
#include "single/single_check.h"

namespace {

struct SoloLocker {
  const RunOptions* options;
  HANDLE file;
  LockWaits waits;
  ErrorInfo error;
};

bool lock_own_file(SoloLocker& s, LockKind kind, LockWait wait) {
  report_line(message_text(kind == LockKind::kExclusive ? kMsgLockOwnExclusive
                                                        : kMsgLockOwnShared));
  return lock_with_timeout(s.options, s.file, s.waits.lock_event, s.waits.wait_timer, kind, wait,
                           &s.error, LockReport::kReported) == kOpOk;
}

bool unlock_own_file(SoloLocker& s) {
  report_line(message_text(kMsgUnlockOwn));
  return unlock_with_timeout(s.options, s.file, s.waits.lock_event, s.waits.wait_timer,
                             &s.error) == kOpOk;
}

// A group whose one action, run inside it, succeeds or makes it NG.
template <class Action>
int simple_group(int id, Action action) {
  GroupGuard g(id);
  if (!action()) g.result = kResultNg;
  return g.result;
}

// The first stage: every kind of lock on one handle, nobody else on the file.
// *ended is set when a failure ends the whole test.
int solo_stage(const RunOptions* options, int32_t target, bool* ended) {
  *ended = true;
  SoloLocker s{options, INVALID_HANDLE_VALUE, {nullptr, nullptr, nullptr}, {0, 0}};
  enter_slot_test();
  ScopeGuard end([&] {
    close_lock_waits(&s.waits);
    leave_slot_test();
  });

  if (!create_lock_waits(&s.waits, false)) return kResultNg;
  char name[261] = {0};
  s.file = open_own_check_file(target_folder(options, target), name);
  if (s.file == INVALID_HANDLE_VALUE) {
    s.error = report_failure(not_opened_code(target), GetLastError());
    return kResultNg;
  }

  int result = kResultOk;
  *ended = false;
  {
    GroupGuard g(kGroupExclusiveNoWait);
    if (!lock_own_file(s, LockKind::kExclusive, LockWait::kNoWait)) {
      g.result = kResultNg;
      result = kResultNg;
    } else if (!unlock_own_file(s)) {
      *ended = true;  // the group itself stays OK
      return kResultNg;
    }
  }
  // A waiting lock in one group, its release in the next.
  const auto lock_and_release = [&](int lock_group, LockKind kind, int release_group) {
    result = combine_results(result, simple_group(lock_group, [&] {
      return lock_own_file(s, kind, LockWait::kWait);
    }));
    result = combine_results(result,
                             simple_group(release_group, [&] { return unlock_own_file(s); }));
  };
  if (target == kTargetShare) {
    lock_and_release(kGroupSharedWaiting, LockKind::kShared, kGroupReleaseShared);
  }
  lock_and_release(kGroupExclusiveWaiting, LockKind::kExclusive, kGroupReleaseExclusive);
  return result;
}

// What the partner thread is started with; it copies both fields when it
// starts.  Static, not in the starting frame: a partner thread that outlives
// the wait of single_lock_tests must never read a frame that has gone.
struct PartnerThreadParams {
  const RunOptions* options;
  int32_t target;
};
PartnerThreadParams partner_params;

// What the partner thread would have reported; static for the same reason.
PartnerReasons partner_reasons;

// The sequence against the partner thread: the check slot of each role, a
// master file of this process, the partner's reasons kept for the main
// thread, one synchronisation point opening groups 60 and 68, none opening
// group 70.
const PairedFrame kSinglePairedFrame = {kModeSingle, {&check_slots[0], &check_slots[1]},
                                        single_ctrl_handler, single_cleanup, &partner_reasons};
const PairedShape kSinglePairedShape = {{1, 1, 0}};

int run_paired_lock_sequence(const RunOptions* options, int32_t target) {
  return paired_lock_sequence(options, target, kSinglePairedFrame, kSinglePairedShape);
}

// Runs the partner's side of the sequence; its exit code is the sequence's
// result, which nobody reads.
DWORD WINAPI partner_thread_proc(LPVOID param) {
  const PartnerThreadParams params = *static_cast<const PartnerThreadParams*>(param);
  return static_cast<DWORD>(run_paired_lock_sequence(params.options, params.target));
}

}  // namespace

int single_lock_tests(const RunOptions* options, int32_t target) {
  bool ended = false;
  const int solo = solo_stage(options, target, &ended);
  if (ended) return kResultNg;

  partner_params = PartnerThreadParams{options, target};
  reset_partner_reasons(&partner_reasons);
  HANDLE partner = CreateThread(nullptr, 0, partner_thread_proc, &partner_params, 0, nullptr);
  if (partner == nullptr) {
    // A thread is refused for want of memory or of resources like it.
    const ErrorInfo error{kErrNoMemory, static_cast<int32_t>(GetLastError())};
    report_line(message_text(kMsgPartnerThreadFailed));
    report_error(&error);
    return kResultNg;
  }
  const int paired = run_paired_lock_sequence(options, target);
  const DWORD limit_ms = static_cast<DWORD>(options->timeout_sec) * 1000u;
  if (WaitForSingleObject(partner, limit_ms) == WAIT_TIMEOUT) {
    // Left running; the plan runs no further test after an abort.  What it
    // has kept so far says where it is stuck.
    const ErrorInfo late{kErrTimedOut, 0};
    report_error(&late);
    show_partner_reasons_left(&partner_reasons, false);
    return kResultAborted;
  }
  CloseHandle(partner);
  // The partner's failures not yet printed: its checks that failed after the
  // main thread closed their groups, and, unless the main thread's run ended
  // on a failure of its own, whatever ended the partner's.
  const bool partner_failed = show_partner_reasons_left(&partner_reasons, paired == kResultNg);
  if (paired != kResultOk) return paired;
  return partner_failed ? kResultNg : solo;
}
