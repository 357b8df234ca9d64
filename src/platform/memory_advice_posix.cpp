#include <sys/mman.h>

#include <cstdint>

#include "platform/memory_advice.h"

namespace mero {

void adviseHugePages([[maybe_unused]] const void* start, [[maybe_unused]] size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const auto begin = (reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kHugePage - 1);
  // Advice only: a kernel without transparent huge pages refuses it, and
  // the array works the same.
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace mero
