#include "foundation/fatal_error.h"

#include <cstdio>
#include <cstdlib>

namespace mero {

void fatalArrayIndex(int32_t index, int32_t count) {
  std::fprintf(stderr, "Illegal vector index: %d max index = %d\n", index, count - 1);
  std::fflush(stderr);
  std::exit(1);
}

void fatalStringIndex(int32_t index, const char* text) {
  std::fprintf(stderr, "index out of range: %d string: %s\n", index, text);
  std::fflush(stderr);
  std::exit(1);
}

}  // namespace mero
