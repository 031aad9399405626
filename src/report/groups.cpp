// The groups of the run and the stack of the open ones.  Fixed arrays: an
// interrupt reads them on the handler's thread while the working threads may
// be suspended anywhere, the allocator included.
#include "report/groups.h"

#include <string.h>

#include <atomic>

#include "platform/win32.h"

namespace {

// A double run has fewer than a hundred groups; what would not fit is
// printed and not recorded.
const int32_t kMaxGroups = 512;
const int32_t kMaxErrorLines = 512;
const int32_t kMaxDepth = 32;

ReportGroup groups[kMaxGroups];
int32_t group_count = 0;
ReportErrorLine error_lines[kMaxErrorLines];
int32_t error_count = 0;
int32_t open_groups[kMaxDepth];  // indices, -1 for a group not recorded
int32_t depth = 0;

// Two flags in the manner of Dekker: the printing thread announces a change
// and then looks for the freeze; the freezer sets the freeze and then waits
// for an announced change to end.  Sequentially consistent, one of them
// always sees the other.
std::atomic<bool> frozen{false};
std::atomic<bool> changing{false};

class Change {
 public:
  Change() {
    changing.store(true);
    if (!frozen.load()) return;
    changing.store(false);
    for (;;) Sleep(1000);  // the interrupt ends the process
  }
  ~Change() { changing.store(false); }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;
};

int32_t top() { return depth > 0 && depth <= kMaxDepth ? open_groups[depth - 1] : -1; }

}  // namespace

int32_t push_group(int32_t id) {
  Change change;
  int32_t index = -1;
  if (group_count < kMaxGroups) {
    index = group_count++;
    groups[index] = ReportGroup{id, top(), 0, 1};
  }
  if (depth < kMaxDepth) open_groups[depth] = index;
  return depth++;
}

int32_t pop_group(int32_t result) {
  Change change;
  const int32_t index = top();
  if (index >= 0) {
    groups[index].result = result;
    groups[index].open = 0;
  }
  return --depth;
}

void record_error_line(int32_t code, int32_t system_error, bool marked, const char* system_text) {
  Change change;
  if (error_count >= kMaxErrorLines) return;
  ReportErrorLine& line = error_lines[error_count++];
  line.group = top();
  line.code = code;
  line.system_error = system_error;
  line.marked = marked ? 1 : 0;
  strncpy(line.system_text, system_text, sizeof line.system_text - 1);
  line.system_text[sizeof line.system_text - 1] = '\0';
}

void freeze_report() {
  frozen.store(true);
  while (changing.load()) Sleep(1);
}

int32_t report_group_count() { return group_count; }
const ReportGroup* report_group(int32_t index) { return &groups[index]; }
int32_t report_error_count() { return error_count; }
const ReportErrorLine* report_error_line(int32_t index) { return &error_lines[index]; }
