// The JSON report's life: the facts of the run, the document, its atomic
// replacement of the file, and the one writer of it.
#include "report/json_report.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include "platform/win32.h"
#include "report/catalogue.h"
#include "report/groups.h"
#include "report/json_writer.h"

#ifndef ZARN_VERSION
#define ZARN_VERSION "unknown"
#endif

namespace {

struct RunFacts {
  RunOptions options;  // as given
  char temporary[300];
  char host[256];
  DWORD pid;
  time_t started;
};
RunFacts facts;
bool wanted = false;

// 0 nobody writes yet, 1 a writer is at it, 2 written (or given up).
enum : int { kIdle = 0, kWriting = 1, kDone = 2 };
std::atomic<int> state{kIdle};
HANDLE temporary_file = INVALID_HANDLE_VALUE;

const int kMaxLeftBehind = 16;
struct LeftBehind {
  std::atomic<int> ready;
  char name[261];
};
LeftBehind left_behind[kMaxLeftBehind];
std::atomic<int> left_behind_count{0};

// The temporary file beside the report, named by the process: a stale one
// of an ended process of the same id is replaced.  Never an existing file
// or link: CREATE_NEW.
HANDLE create_temporary(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && DeleteFileA(name)) {
    file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return file;
}

void temporary_name(const char* path, DWORD pid, char (&name)[300]) {
  snprintf(name, sizeof name, "%s.%lu.tmp", path, static_cast<unsigned long>(pid));
}

const char* operation_name(int32_t mode) {
  return mode == kModeSingle ? "single" : mode == kModeDouble ? "double" : "userapl";
}

const char* given(const char* field) { return field[0] != '\0' ? field : nullptr; }

void write_errors(JsonWriter& out, int32_t group) {
  out.raw("[");
  bool first = true;
  for (int32_t i = 0; i < report_error_count(); ++i) {
    const ReportErrorLine* line = report_error_line(i);
    if (line->group != group) continue;
    out.element(&first);
    out.raw("{");
    out.key("code", true);
    out.number(line->code);
    out.key("text");
    out.string(error_text(line->code, kEnglish));
    out.key("marked");
    out.boolean(line->marked != 0);
    out.key("system_error");
    out.number(line->system_error);
    out.key("system_text");
    out.string(line->system_text);
    out.raw("}");
  }
  out.raw("]");
}

// The groups whose parent is `parent`, in order, each with its children.
// A group still open (an interrupted run) did not pass: NG.
void write_groups(JsonWriter& out, int32_t parent, int depth) {
  out.raw("[");
  bool first = true;
  for (int32_t i = 0; i < report_group_count(); ++i) {
    const ReportGroup* group = report_group(i);
    if (group->parent != parent) continue;
    out.element(&first);
    out.raw("{");
    out.key("id", true);
    out.number(group->id);
    out.key("heading");
    out.string(catalogue_text(group->id, kEnglish));
    out.key("result");
    out.string(group->open == 0 && group->result == kResultOk ? "OK" : "NG");
    out.key("errors");
    write_errors(out, i);
    out.key("children");
    if (depth < 16) {
      write_groups(out, i, depth + 1);
    } else {
      out.raw("[]");
    }
    out.raw("}");
  }
  out.raw("]");
}

// The noted names whose file is still there, each once.
void write_left_behind(JsonWriter& out) {
  out.raw("[");
  bool first = true;
  const int count = left_behind_count.load();
  for (int i = 0; i < count && i < kMaxLeftBehind; ++i) {
    if (!left_behind[i].ready.load()) continue;
    const char* name = left_behind[i].name;
    bool again = false;
    for (int j = 0; j < i && !again; ++j) {
      again = left_behind[j].ready.load() && strcmp(left_behind[j].name, name) == 0;
    }
    if (again || GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) continue;
    out.element(&first);
    out.string(name);
  }
  out.raw("]");
}

void write_document(JsonWriter& out, int result, bool interrupted) {
  const RunOptions& o = facts.options;
  out.raw("{");
  out.key("version", true);
  out.string(ZARN_VERSION);
  out.key("operation");
  out.string(operation_name(o.mode));
  out.key("host");
  out.string(facts.host);
  out.key("pid");
  out.number(facts.pid);
  out.key("target_path");
  out.string(given(o.target_path));
  out.key("share_path");
  out.string(given(o.share_path));
  out.key("target_file");
  out.string(given(o.target_file));
  out.key("timeout_sec");
  out.number(o.timeout_sec);
  out.key("started");
  out.utc_time(facts.started);
  out.key("ended");
  out.utc_time(time(nullptr));
  out.key("result");
  out.string(interrupted || result == kResultAborted ? "aborted" : result == kResultOk ? "OK" : "NG");
  out.key("exit_status");
  // An interrupted process ends as the signal ends it, with no status of its own.
  if (interrupted) {
    out.raw("null");
  } else {
    out.number(result == kResultOk ? 0 : -1);
  }
  out.key("interrupted");
  out.boolean(interrupted);
  out.key("groups");
  write_groups(out, -1, 0);
  out.key("left_behind");
  write_left_behind(out);
  out.raw("}\n");
}

// Made by the writer that claimed the file; nothing here allocates.
void commit(int result, bool interrupted) {
  if (temporary_file != INVALID_HANDLE_VALUE) {
    JsonWriter out(temporary_file);
    write_document(out, result, interrupted);
    bool whole = out.flush() && FlushFileBuffers(temporary_file);
    whole = CloseHandle(temporary_file) && whole;
    temporary_file = INVALID_HANDLE_VALUE;
    if (!whole || !MoveFileExA(facts.temporary, facts.options.json_file, MOVEFILE_REPLACE_EXISTING)) {
      DeleteFileA(facts.temporary);
    }
  }
  state.store(kDone);
}

bool claim() {
  int idle = kIdle;
  if (!wanted || !state.compare_exchange_strong(idle, kWriting)) return false;
  temporary_file = create_temporary(facts.temporary);
  return true;
}

void wait_for_the_writer() {
  while (wanted && state.load() != kDone) Sleep(5);
}

}  // namespace

int json_report_probe(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return -1;
  }
  char name[300];
  temporary_name(path, GetCurrentProcessId(), name);
  HANDLE file = create_temporary(name);
  if (file == INVALID_HANDLE_VALUE) return -1;
  CloseHandle(file);
  DeleteFileA(name);
  return 0;
}

void json_report_begin(const RunOptions* options) {
  wanted = options->json_file[0] != '\0';
  if (!wanted) return;
  facts.options = *options;
  facts.pid = GetCurrentProcessId();
  temporary_name(options->json_file, facts.pid, facts.temporary);
  DWORD size = sizeof facts.host;
  if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, facts.host, &size)) facts.host[0] = '\0';
  facts.started = time(nullptr);
}

bool json_report_wanted() { return wanted; }

void note_left_behind(const char* name) {
  // The same check-file names recur test after test, and a deletion that
  // meets the partner's open handle fails on the way: each name once.
  const int noted = left_behind_count.load();
  for (int j = 0; j < noted && j < kMaxLeftBehind; ++j) {
    if (left_behind[j].ready.load() && strncmp(left_behind[j].name, name, 260) == 0) return;
  }
  const int i = left_behind_count.fetch_add(1);
  if (i >= kMaxLeftBehind) return;
  strncpy(left_behind[i].name, name, sizeof left_behind[i].name - 1);
  left_behind[i].ready.store(1);
}

void json_report_finish(int result) {
  if (!wanted) return;
  if (claim()) return commit(result, false);
  wait_for_the_writer();
  for (;;) Sleep(1000);  // the interrupt ends the process
}

bool json_report_interrupt_begin() {
  if (!wanted) return false;
  freeze_report();
  return claim();
}

void json_report_interrupt_end(bool writes) {
  if (writes) {
    commit(kResultAborted, true);
  } else {
    wait_for_the_writer();
  }
}
