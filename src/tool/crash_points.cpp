#include "tool/crash_points.h"

#include <cstdlib>

namespace mero::tool {

void crashPoint() {
  static const long crashAt = [] {
    const char* value = std::getenv("MERO_TOOL_CRASH_AT");
    return value != nullptr ? std::strtol(value, nullptr, 10) : 0L;
  }();
  static long steps = 0;
  if (crashAt > 0 && ++steps == crashAt) std::_Exit(86);
}

}  // namespace mero::tool
