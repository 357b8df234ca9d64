#include <windows.h>

#include <new>

#include "platform/lock.h"

namespace mero {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16);

namespace {
CRITICAL_SECTION* sectionIn(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

Lock::Lock() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
Lock::~Lock() { DeleteCriticalSection(sectionIn(storage_)); }
namespace {
// Each thread's own address: what the lock notes of its holder.
thread_local const char t_thread = 0;
}  // namespace

void Lock::enter() {
  EnterCriticalSection(sectionIn(storage_));
#ifndef NDEBUG
  owner_.store(&t_thread, std::memory_order_relaxed);
#endif
}

void Lock::leave() {
#ifndef NDEBUG
  owner_.store(nullptr, std::memory_order_relaxed);
#endif
  LeaveCriticalSection(sectionIn(storage_));
}

bool Lock::heldByThisThread() const { return owner_.load(std::memory_order_relaxed) == &t_thread; }

}  // namespace mero
