// Validation of the folders or the file a run is to work on, the log file
// probe, and the set-up every plan relies on.
#include <stdio.h>
#include <string.h>

#include "driver/driver.h"
#include "platform/win32.h"
#include "report/json_report.h"
#include "report/report.h"

namespace {

// Catalogue messages written to standard error (they carry their own "\r\n").

int refuse(int id) {
  fputs(message_text(id), stderr);
  fflush(stderr);
  return -1;
}

// A folder the tool can work in: it exists, is a folder, is not read-only.
bool usable_folder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The file to be checked must not exist yet and must lie in a usable folder.
int validate_target_file(const char* target_file) {
  DWORD attributes = GetFileAttributesA(target_file);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return refuse((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kMsgTargetFileIsFolder : kMsgTargetFileExists);
  }

  char drive[3];
  char dir[256];
  char fname[256];
  char ext[256];
  if (_splitpath_s(target_file, drive, sizeof drive, dir, sizeof dir, fname, sizeof fname, ext,
                   sizeof ext) != 0) {
    return refuse(kMsgSystemError);
  }
  if (fname[0] == '\0') return refuse(kMsgTargetFileIsFolder);

  // A bare name (with or without a drive) lives in the current folder, which
  // is not examined.
  if (dir[0] != '\0') {
    char folder[260];
    if (drive[0] != '\0') {
      snprintf(folder, sizeof folder, "%s%s", drive, dir);
    } else {
      snprintf(folder, sizeof folder, "%s", dir);
    }
    if (!usable_folder(folder)) return refuse(kMsgTargetFileFolderInvalid);
  }
  return 0;
}

}  // namespace

int validate_options(RunOptions* options) {
  if (options->mode == kModeUserApl) {
    if (validate_target_file(options->target_file) != 0) return -1;
  } else {
    if (!usable_folder(options->share_path)) return refuse(kMsgSharePathInvalid);
    if (!usable_folder(options->target_path)) return refuse(kMsgTargetPathInvalid);
  }

  // The log file is probed as every line will open it: created when missing,
  // kept with its content when present.
  memset(log_path, 0, sizeof log_path);
  if (options->log_file[0] != '\0') {
    if (!probe_log_file(options->log_file)) return refuse(kMsgLogFileFailed);
    memcpy(log_path, options->log_file, strlen(options->log_file) + 1);
  }
  // The JSON report replaces its file at the end; a file that could not be
  // written then is refused now, as the log file is.
  if (options->json_file[0] != '\0' && json_report_probe(options->json_file) != 0) {
    return refuse(kMsgJsonFileFailed);
  }

  output_enabled = 1;
  return 0;
}
