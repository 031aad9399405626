// Termination blocks: a guard whose release step runs on every way out of a
// scope.
#ifndef ZARN_BASE_SCOPE_GUARD_H
#define ZARN_BASE_SCOPE_GUARD_H

#include <utility>

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

#endif
