// What a mutual test holds, kept where its clean-up and its console control
// handler find it, and the frame every mutual test runs in: the other party
// is another process, so one process-wide record serves whichever role the
// set-up gives this process.
#ifndef ZARN_MUTUAL_MUTUAL_STATE_H
#define ZARN_MUTUAL_MUTUAL_STATE_H

#include "paired/held_files.h"
#include "paired/paired_test.h"
#include "platform/win32.h"

// own_handle, partner_handle, own_file_name, partner_file_name and the
// running test's synchronisation (sync_state).
typedef CheckFileSlot MutualTestState;
extern MutualTestState mutual_state;

// Releases what the running test holds: handles unlocked and closed, both
// check files deleted (message 11 for each that went, unless interrupted),
// then the synchronisation ended, in step with the partner (0) or torn down
// with its files without waiting (1, from the console handler).  Effects
// happen once, whichever of the test and the handler comes first.
int mutual_cleanup(int interrupted);
BOOL WINAPI mutual_ctrl_handler(DWORD control_type);

// The mutual tests' frame for enter_paired_test and leave_paired_test:
// Double synchronisation, mutual_state, mutual_ctrl_handler, mutual_cleanup(0).
extern const PairedFrame kMutualFrame;

// The scripts of the mutual phase, in the order of its plan, for
// enter_paired_test: both processes of a pair run the same one, and a
// process in its first script that finds a pair in a later one is late.
int32_t mutual_script(int32_t test, int32_t target);
enum : int32_t { kMutualOpenTest = 0, kMutualLockTest = 1, kMutualDeletionTest = 2 };

// The check files in the folder of `target` (-h or -p), named by role: this
// process's own file, named into own_file_name, announced (message 41) and
// opened into own_handle; false after reporting {4 for -h, 5 for -p, the
// reason}.
bool open_own_mutual_file(const RunOptions* options, int32_t target, int32_t role);
// The partner's file (role XOR 1), named into partner_file_name and `name`.
void name_partner_file(const RunOptions* options, int32_t target, int32_t role,
                       CheckFileName* name);
// Reports an open in the folder of `target` that failed: {4 or 5, last error}.
void report_open_failure(int32_t target);

#endif
