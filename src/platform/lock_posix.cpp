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
void Lock::enter() { mutexIn(storage_).lock(); }
void Lock::leave() { mutexIn(storage_).unlock(); }

}  // namespace mero
