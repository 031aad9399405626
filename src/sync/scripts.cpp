// The script marks beside the presence bytes, by which the parties of one
// pairing know that they follow the same script of the run.
#include "sync/master_file.h"

int32_t script_mark_byte(int32_t role, int32_t script) {
  return kScriptMarkBase + kScriptMarksPerRole * role + script;
}

void mark_script(SyncState* state, int32_t role) {
  // Without the mark this party pairs as a party of an older build does.
  if (state->script > 0) lock_master_byte(state->master_file, script_mark_byte(role, state->script), LockKind::kExclusive);
}

void unmark_script(SyncState* state, int32_t role) {
  if (state->script > 0) unlock_master_byte(state->master_file, script_mark_byte(role, state->script));
}

int32_t script_of(SyncState* state, int32_t role, ErrorInfo* error) {
  for (int32_t script = 1; script < kScriptMarksPerRole; ++script) {
    const int32_t offset = script_mark_byte(role, script);
    const int taken = take_master_byte(state->master_file, offset, error);
    if (taken == 0) return script;
    if (taken < 0) return -1;
    unlock_master_byte(state->master_file, offset);
  }
  return 0;
}

bool scripts_differ(int32_t mine, int32_t theirs) { return mine > 0 && theirs > 0 && mine != theirs; }
