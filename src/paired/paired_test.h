// Tests between two parties that step together through a synchronisation:
// the frame every such test runs in, and the paired lock sequence.  The
// parties are the main thread and a partner thread of this process (the
// single check's lock test) or two processes on two hosts (the mutual
// check); the frame and the sequence's shape say which.
#ifndef ZARN_PAIRED_PAIRED_TEST_H
#define ZARN_PAIRED_PAIRED_TEST_H

#include <stdint.h>

#include "base/run_options.h"
#include "paired/held_files.h"
#include "paired/partner_reasons.h"
#include "platform/win32.h"

// Whose frame: the check's synchronisation, records, handler and clean-up.
struct PairedFrame {
  // Given to sync_setup: kModeSingle pairs two threads of this process on a
  // master file of its own, kModeDouble two hosts on the fixed one.  It names
  // the check files too: by host and process, or by role alone.
  int32_t sync_mode;
  // The held-files record of role 0 and of role 1 (one process-wide record
  // serves both roles when the other party is another process).
  CheckFileSlot* slots[2];
  PHANDLER_ROUTINE ctrl_handler;     // registered while the test runs
  int (*cleanup)(int32_t role);      // releases the role's record, ends the synchronisation
  // Where the participant that prints nothing keeps its reasons for the
  // other to print (the partner thread's); nullptr when each prints its own.
  PartnerReasons* partner_reasons;
};

// The way in: message 102, the thread a working thread with the frame's
// handler registered, and the set-up in the -h folder, whose record goes
// into the held-files record of its role, prepared anew.  The record (its
// role says which held-files record); nullptr when the set-up failed
// (reported by it), the way in then undone.
// `script`: which script of the run the test is (sync_setup), 0 none.
SyncState* enter_paired_test(const RunOptions* options, const PairedFrame& frame,
                             int32_t script = 0);
// The way out, on every path once in: the frame's clean-up of the role,
// then the handler and the working frame undone.
void leave_paired_test(const PairedFrame& frame, int32_t role);

// How the sequence differs between two threads and two hosts: the
// synchronisation points that open groups 60, 68 and 70.
struct PairedShape {
  int32_t opening_syncs[3];
};

// Both parties run it at the same time, each on its own file and the
// other's, in the folder of `target`: groups 57, 67, 59, 58, 60, 69, 68, 70
// for kTargetShare, 67, 69, 70 for kTargetPath.  0 every group OK; 1 a
// group NG or a step outside the checks failed; -1 the synchronisation
// failed (after message 101 when its set-up did), or `target` is neither
// (nothing printed).
int paired_lock_sequence(const RunOptions* options, int32_t target, const PairedFrame& frame,
                         const PairedShape& shape, int32_t script = 0);

#endif
