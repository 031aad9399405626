// The reasons of the participant that prints nothing: the partner thread of
// the single check's lock test runs the paired lock sequence as the main
// thread does, but only the main thread's lines are printed.  The partner
// keeps here what its "!" lines would have said, each with the processing
// group it stood in; the main thread prints them in that group when it
// closes it, or, when it closed that group before they were kept, once it
// has waited for the partner.
#ifndef ZARN_PAIRED_PARTNER_REASONS_H
#define ZARN_PAIRED_PARTNER_REASONS_H

#include <stdint.h>

#include <atomic>

#include "report/report.h"

struct PartnerReason {
  int32_t group;  // the processing group it stood in; 0 outside one
  ErrorInfo error;
  bool in_sync;   // met while synchronising with the main thread
};

// One writer (the partner) and one reader (the main thread): a reason is
// written before `kept` counts it, and never changed afterwards.
struct PartnerReasons {
  static const int kCapacity = 32;
  static const int32_t kFirstGroup = 55;  // groups 55 to 70
  static const int32_t kGroups = 16;
  PartnerReason reasons[kCapacity];
  std::atomic<int32_t> kept;
  // Per group: how many reasons had been kept when the partner found that
  // group NG (its check failed, not a step around it); 0 while it has not.
  std::atomic<int32_t> ng_at[kGroups];
  int32_t group;            // the partner's current group; the partner's own
  bool syncing;             // the partner's own
  bool shown[kCapacity];    // the main thread's own
  ErrorInfo own_failure[kGroups];  // the main thread's own: why it found a group NG
};

// Empties the record; before the partner starts.
void reset_partner_reasons(PartnerReasons* r);

// Partner side.  Between start and stop, every "!" line of the calling
// thread is kept in `r`, with the group entered last.
void start_keeping_reasons(PartnerReasons* r);
void stop_keeping_reasons();
void partner_enters_group(PartnerReasons* r, int32_t group);
void partner_syncing(PartnerReasons* r, bool syncing);
// The partner's group went NG: the reasons kept so far for it say why.
void partner_group_ng(PartnerReasons* r, int32_t group);

// Main thread side.  The reason (already printed) why the main thread found
// `group` NG: the partner's same reason for it is not printed again.
void main_group_failure(PartnerReasons* r, int32_t group, const ErrorInfo& error);
// At the close of `group`: when the partner found it NG by then, prints the
// reasons that made it so (true: the group is NG).
bool show_partner_group_reasons(PartnerReasons* r, int32_t group);
// Once the partner has ended or is given up on: prints the reasons not yet
// shown; only the group failures among them when `failures_only` (the main
// thread's run ended on a failure of its own, which the partner's other
// reasons merely follow or repeat).  Never a time-out or an "ended" met
// while synchronising: it says only that the main thread did not come, as
// the main thread's own line on its side does.  Whether it printed any.
bool show_partner_reasons_left(PartnerReasons* r, bool failures_only);

#endif
