// The JSON report (-j): one document of the whole run, written whole or not
// at all (a temporary file beside it, renamed over it), once: at the end of
// the run, or by the interrupt path after every clean-up has run.  English
// and UTF-8 whatever the run's language.
#ifndef ZARN_REPORT_JSON_REPORT_H
#define ZARN_REPORT_JSON_REPORT_H

#include "base/run_options.h"

// Whether the file `path` can be written as the report will write it: its
// temporary file made and removed, the file itself neither a folder nor
// read-only.  0 or -1.
int json_report_probe(const char* path);
// The run's facts, as the run begins: the options (-j among them), host,
// process id, the time.  Without -j nothing is written later.
void json_report_begin(const RunOptions* options);
// A copy of what json_report_begin was given, -j given.
bool json_report_wanted();

// A noted file that the tool created and could not remove (a failed
// deletion of a clean-up); any thread.  Those still there when the document
// is written are its "left_behind".
void note_left_behind(const char* name);

// The end of a run that was not interrupted, with the plan's result.  If an
// interrupt has taken the writing over, the calling thread waits there for
// the end of the process.
void json_report_finish(int result);

// The interrupt path's two steps around the clean-ups.  Before them: the
// record of groups frozen and the temporary file made (this may allocate: no
// thread is stopped yet); true when this call is the one to write.  After
// them: the document written and renamed into place, nothing allocated; or,
// when another call writes, that one waited for.
bool json_report_interrupt_begin();
void json_report_interrupt_end(bool writes);

#endif
