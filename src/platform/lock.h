#pragma once
// A plain mutual-exclusion lock: a critical section on Windows, a mutex
// elsewhere. No re-entry, timeouts or fairness are needed: every path takes a
// lock at most once and releases it before it returns.
//
// The storage is opaque so that no system header leaks into the engine.
//
// Debug builds note which thread holds the lock, so that code that needs it
// held can assert so (assertHeld); release builds note nothing. The member
// is there in both, so that both see one layout.

#include <atomic>
#include <cassert>
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

  // Whether the calling thread holds the lock; only debug builds know, and
  // release builds answer false.
  bool heldByThisThread() const;
  void assertHeld() const {
#ifndef NDEBUG
    assert(heldByThisThread());
#endif
  }

 private:
  alignas(16) unsigned char storage_[64];
  std::atomic<const void*> owner_{nullptr};  // a mark of the holding thread, in debug builds
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
