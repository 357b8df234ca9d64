#include <mutex>
#include <new>

#include "platform/lock.h"

namespace mero {

static_assert(sizeof(std::mutex) <= 64 && alignof(std::mutex) <= 16);

namespace {
std::mutex& mutexIn(unsigned char* storage) { return *std::launder(reinterpret_cast<std::mutex*>(storage)); }
}  // namespace

Lock::Lock() { new (storage_) std::mutex(); }
Lock::~Lock() { mutexIn(storage_).~mutex(); }
namespace {
// Each thread's own address: what the lock notes of its holder.
thread_local const char t_thread = 0;
}  // namespace

void Lock::enter() {
  mutexIn(storage_).lock();
#ifndef NDEBUG
  owner_.store(&t_thread, std::memory_order_relaxed);
#endif
}

void Lock::leave() {
#ifndef NDEBUG
  owner_.store(nullptr, std::memory_order_relaxed);
#endif
  mutexIn(storage_).unlock();
}

bool Lock::heldByThisThread() const { return owner_.load(std::memory_order_relaxed) == &t_thread; }

}  // namespace mero
