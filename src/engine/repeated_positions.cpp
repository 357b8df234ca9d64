#include "engine/repeated_positions.h"

#include <array>
#include <cstddef>

namespace mero {

namespace {
// Sorts non-negative values in three passes of 11 bits.
void radixSort(std::vector<int32_t>& values) {
  std::vector<int32_t> sorted(values.size());
  for (int shift = 0; shift < 33; shift += 11) {
    std::array<size_t, 2049> starts{};
    for (const int32_t v : values) ++starts[(static_cast<uint32_t>(v) >> shift & 2047) + 1];
    for (size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
    for (const int32_t v : values) sorted[starts[static_cast<uint32_t>(v) >> shift & 2047]++] = v;
    values.swap(sorted);
  }
}
}  // namespace

std::vector<int32_t> repeatedPositions(const std::vector<int32_t>& entries) {
  size_t r = 1;
  while (r < entries.size() && entries[r - 1] < entries[r]) ++r;
  if (r >= entries.size()) return {};
  std::vector<int32_t> sorted(entries);
  radixSort(sorted);
  std::vector<int32_t> repeated;
  for (size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i] == sorted[i - 1] && (repeated.empty() || repeated.back() != sorted[i])) repeated.push_back(sorted[i]);
  return repeated;
}

}  // namespace mero
