// One wait for the person: the synchronisation file created beside the file
// to be checked, a watcher thread that polls until it is gone, and the -t
// time limit around it.
#include <stdio.h>
#include <string.h>

#include "base/poll_schedule.h"
#include "base/process_end.h"
#include "base/scope_guard.h"
#include "fileops/fileops.h"
#include "report/catalogue.h"
#include "report/json_report.h"
#include "report/report.h"
#include "userapl/app_sync_file.h"

namespace {

// What one wait made, released by its end whichever way it went.
struct Watch {
  WatcherArgs args;
  HANDLE thread;
};

// The name is the folder part of -f (drive and directory, separator
// included) followed by ZARSTOP.stop: a bare name's lies in the current
// folder.  -f is at most kMaxPathChars long, so its folder part and the
// name fit the buffer whole.  False when -f cannot be split (or, against
// that bound, the name would be cut).
const char kSyncFileName[] = "ZARSTOP.stop";

bool name_sync_file(const char* target_file, char* name, size_t size) {
  char drive[3];
  char dir[kMaxPathChars + 1];
  char fname[256];
  char ext[256];
  static_assert(sizeof drive - 1 + sizeof dir - 1 + sizeof kSyncFileName <= sizeof(WatcherArgs{}.sync_file_name),
                "the folder part of -f and the file name fit the name buffer");
  if (_splitpath_s(target_file, drive, sizeof drive, dir, sizeof dir, fname, sizeof fname, ext,
                   sizeof ext) != 0) {
    return false;
  }
  int length = snprintf(name, size, "%s%s%s", drive, dir, kSyncFileName);
  return length >= 0 && static_cast<size_t>(length) < size;
}

// Creates the empty file and leaves it closed.  A creation is a file call:
// an interrupt's clean-up waits for it, and finds the file by its name.
DWORD create_sync_file(const char* name) {
  {
    ResourceLockHold hold;
    snprintf(app_sync_file_name, sizeof app_sync_file_name, "%s", name);
  }
  begin_file_call();
  ScopeGuard ended([] { end_file_call(); });
  app_sync_file_handle = open_test_file(name, GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  if (app_sync_file_handle == INVALID_HANDLE_VALUE) return GetLastError();
  close_handle(&app_sync_file_handle);
  return 0;
}

// Everything up to the end of the wait; 0, or -1 with `error` filled.
int watch(const RunOptions* options, Watch* w, ErrorInfo* error) {
  char name[sizeof w->args.sync_file_name];
  if (!name_sync_file(options->target_file, name, sizeof name)) {
    return set_error(error, kErrPathAnalysis, GetLastError());
  }
  report_message(kMsgCreatingSyncFile, name);
  if (DWORD failure = create_sync_file(name)) return set_error(error, kErrSyncFileCreation, failure);

  w->args.stop_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (w->args.stop_event == nullptr) return set_error(error, kErrWatcherThread, GetLastError());
  w->args.options = options;
  memcpy(w->args.sync_file_name, name, sizeof name);

  report_line(message_text(kMsgCreatingSyncThread));
  w->thread = CreateThread(nullptr, 0, sync_file_watcher, &w->args, 0, nullptr);
  if (w->thread == nullptr) return set_error(error, kErrWatcherThread, GetLastError());
  report_line(message_text(kMsgWaitingForSyncFileDeletion));

  const DWORD limit_ms = static_cast<DWORD>(options->timeout_sec) * 1000;
  if (WaitForSingleObject(w->thread, limit_ms) == WAIT_TIMEOUT) {
    // The person did not answer: the tool takes the file away itself.
    if (DeleteFileA(name)) {
      report_message(kMsgSyncFileDeleted, name);
    } else {
      note_left_behind(name);
      char text[1024];
      snprintf(text, sizeof text, message_text(kMsgSyncFileDeletionFailed),
               static_cast<unsigned long>(GetLastError()));
      report_line(text);
      report_line(message_text(kMsgStoppingSyncThread));
      SetEvent(w->args.stop_event);
    }
    return set_error(error, kErrTimedOut, 0);
  }
  DWORD exit_code = 0;
  if (!GetExitCodeThread(w->thread, &exit_code) || exit_code != 0) {
    return set_error(error, kErrSyncFileWatch, GetLastError());
  }
  return 0;
}

}  // namespace

int wait_for_sync_file_deletion(const RunOptions* options, ErrorInfo* error) {
  Watch w;
  memset(&w, 0, sizeof w);
  const int result = watch(options, &w, error);
  if (w.thread != nullptr) {
    // The record lives until the watcher has ended: stopped, it ends
    // within one poll.
    SetEvent(w.args.stop_event);
    WaitForSingleObject(w.thread, INFINITE);
    CloseHandle(w.thread);
  }
  if (w.args.stop_event != nullptr) CloseHandle(w.args.stop_event);
  userapl_cleanup();
  // After the clean-up's lines, so that the reason stands last.
  if (result != 0) report_error(error);
  return result;
}

DWORD WINAPI sync_file_watcher(LPVOID param) {
  const WatcherArgs* args = static_cast<const WatcherArgs*>(param);
  if (WaitForSingleObject(args->stop_event, 0) != WAIT_TIMEOUT) return 0;
  PollSchedule schedule;
  while (GetFileAttributesA(args->sync_file_name) != INVALID_FILE_ATTRIBUTES) {
    // The poll: the person's deletion is seen within one pause (at most
    // 100 ms), and a stop at once.
    if (WaitForSingleObject(args->stop_event, schedule.next_pause_ms()) != WAIT_TIMEOUT) return 0;
  }
  return 0;
}
