#include "platform/memory_advice.h"

namespace mero {

// Large pages on Windows need a privilege ordinary users lack and memory
// taken at allocation: no advice is given.
void adviseHugePages(const void*, size_t) {}

}  // namespace mero
