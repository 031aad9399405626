// The partner's reasons, kept by it and printed by the main thread.
#include "paired/partner_reasons.h"

namespace {

void keep_reason(const ErrorInfo* error, void* context) {
  auto* r = static_cast<PartnerReasons*>(context);
  const int32_t n = r->kept.load(std::memory_order_relaxed);
  if (n >= PartnerReasons::kCapacity) return;
  r->reasons[n] = PartnerReason{r->group, *error, r->syncing};
  r->kept.store(n + 1, std::memory_order_release);
}

// The place of `group` in the per-group arrays; -1 for a group outside them.
int32_t slot_of(int32_t group) {
  const int32_t i = group - PartnerReasons::kFirstGroup;
  return i >= 0 && i < PartnerReasons::kGroups ? i : -1;
}

std::atomic<int32_t>* ng_of(PartnerReasons* r, int32_t group) {
  const int32_t i = slot_of(group);
  return i >= 0 ? &r->ng_at[i] : nullptr;
}

// Whether reason `i` is one that made its group NG.
bool is_group_failure(PartnerReasons* r, int32_t i) {
  std::atomic<int32_t>* ng = ng_of(r, r->reasons[i].group);
  return ng != nullptr && i < ng->load(std::memory_order_acquire);
}

bool same(const ErrorInfo& a, const ErrorInfo& b) {
  return a.code == b.code && a.system_error == b.system_error;
}

// Prints reason `i` unless the main thread printed the same for its group.
void show(PartnerReasons* r, int32_t i) {
  r->shown[i] = true;
  const PartnerReason& reason = r->reasons[i];
  const int32_t g = slot_of(reason.group);
  if (g >= 0 && same(r->own_failure[g], reason.error)) return;
  report_error(&reason.error);
}

}  // namespace

void reset_partner_reasons(PartnerReasons* r) {
  r->kept.store(0);
  for (std::atomic<int32_t>& ng : r->ng_at) ng.store(0);
  r->group = 0;
  r->syncing = false;
  for (bool& shown : r->shown) shown = false;
  for (ErrorInfo& own : r->own_failure) own = ErrorInfo{0, 0};
}

void start_keeping_reasons(PartnerReasons* r) { keep_unprinted_errors(keep_reason, r); }

void stop_keeping_reasons() { keep_unprinted_errors(nullptr, nullptr); }

void partner_enters_group(PartnerReasons* r, int32_t group) { r->group = group; }

void partner_syncing(PartnerReasons* r, bool syncing) { r->syncing = syncing; }

void main_group_failure(PartnerReasons* r, int32_t group, const ErrorInfo& error) {
  const int32_t g = slot_of(group);
  if (g >= 0 && r->own_failure[g].code == 0) r->own_failure[g] = error;
}

void partner_group_ng(PartnerReasons* r, int32_t group) {
  std::atomic<int32_t>* ng = ng_of(r, group);
  if (ng != nullptr && ng->load(std::memory_order_relaxed) == 0) {
    ng->store(r->kept.load(std::memory_order_relaxed), std::memory_order_release);
  }
}

bool show_partner_group_reasons(PartnerReasons* r, int32_t group) {
  std::atomic<int32_t>* ng = ng_of(r, group);
  const int32_t until = ng == nullptr ? 0 : ng->load(std::memory_order_acquire);
  if (until == 0) return false;
  for (int32_t i = 0; i < until; ++i) {
    if (r->reasons[i].group == group && !r->shown[i]) show(r, i);
  }
  return true;
}

bool show_partner_reasons_left(PartnerReasons* r, bool failures_only) {
  const int32_t kept = r->kept.load(std::memory_order_acquire);
  bool any = false;
  for (int32_t i = 0; i < kept; ++i) {
    const PartnerReason& reason = r->reasons[i];
    const bool mirror = reason.in_sync && (reason.error.code == kErrTimedOut ||
                                           reason.error.code == kErrPartnerEnded);
    if (r->shown[i] || mirror || (failures_only && !is_group_failure(r, i))) continue;
    show(r, i);
    any = true;
  }
  return any;
}
