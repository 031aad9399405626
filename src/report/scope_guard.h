// Termination blocks: a guard whose release step runs on every way out of a
// scope, and the group guard that prints a group's finish line that way.
#ifndef ZARN_REPORT_SCOPE_GUARD_H
#define ZARN_REPORT_SCOPE_GUARD_H

#include <utility>

#include "report/report.h"

template <class F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F release) : release_(std::move(release)) {}
  ~ScopeGuard() { release_(); }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

 private:
  F release_;
};

// Prints the start line now and the finish line, with `result` as it stands,
// when the scope is left.
class GroupGuard {
 public:
  explicit GroupGuard(int id) : id_(id) { begin_group(id_); }
  ~GroupGuard() { end_group(id_, result); }
  GroupGuard(const GroupGuard&) = delete;
  GroupGuard& operator=(const GroupGuard&) = delete;

  int result = 0;

 private:
  int id_;
};

#endif
