// The words every module shares: the run's options and the mode, target and
// result types.
#ifndef ZARN_BASE_RUN_OPTIONS_H
#define ZARN_BASE_RUN_OPTIONS_H

#include <stdint.h>

// CheckMode: what a run does, and how check files are named.
enum : int32_t { kModeSingle = 1, kModeDouble = 2, kModeUserApl = 3 };

// CheckTarget: which folder a test works in.
enum : int32_t { kTargetShare = 1, kTargetPath = 2 };

// TestResult.
enum : int32_t { kResultOk = 0, kResultNg = 1, kResultAborted = -1 };
// A group's result once `next` has run in it: -1 when the last test run gave
// -1, else 1 when any gave 1, else 0.
inline int combine_results(int sofar, int next) {
  if (next == kResultAborted) return kResultAborted;
  return sofar == kResultNg || next == kResultNg ? kResultNg : kResultOk;
}

// The longest path -p, -h, -f or -o may be, in characters: the buffers that
// hold a path and the name of a file beside it are sized from it.
const unsigned kMaxPathChars = 200;

struct RunOptions {
  int32_t mode;          // CheckMode; 0 while no -m was read
  char share_path[260];  // -h
  char target_path[260]; // -p
  char target_file[260]; // -f
  int32_t timeout_sec;   // -t: 10 to 600, 30 when absent
  char log_file[260];    // -o; empty for the console
  char json_file[260];   // -j; empty when no JSON report is wanted
};

// The folder the tests of `target` work in: -h or -p.
inline const char* target_folder(const RunOptions* options, int32_t target) {
  return target == kTargetShare ? options->share_path : options->target_path;
}

#endif
