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
void Lock::enter() { EnterCriticalSection(sectionIn(storage_)); }
void Lock::leave() { LeaveCriticalSection(sectionIn(storage_)); }

}  // namespace mero
