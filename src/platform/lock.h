#pragma once
// A plain mutual-exclusion lock: a critical section on Windows, a mutex
// elsewhere. No re-entry, timeouts or fairness are needed: every path takes a
// lock at most once and releases it before it returns.
//
// The storage is opaque so that no system header leaks into the engine.

#include <cstddef>

namespace mero {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void enter();
  void leave();

 private:
  alignas(16) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.enter(); }
  ~LockGuard() { lock_.leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace mero
