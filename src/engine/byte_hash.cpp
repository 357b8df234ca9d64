#include "engine/byte_hash.h"

#include <chrono>
#include <random>

namespace mero {

namespace {
// The system's random source, with the clock and an address mixed in, in
// case a platform's source is weak or fails.
HashKey drawKey() {
  uint64_t words[2] = {0, 0};
  try {
    std::random_device source;
    for (uint64_t& w : words) w = (uint64_t{source()} << 32) ^ source();
  } catch (...) {
    // The clock and the address below still differ between runs.
  }
  const auto now = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  static int anchor = 0;
  words[0] ^= now * 0x9E3779B97F4A7C15ull;
  words[1] ^= reinterpret_cast<uintptr_t>(&anchor) * 0xC2B2AE3D27D4EB4Full;
  return HashKey{words[0], words[1]};
}
}  // namespace

namespace detail {
HashSetting& hashSetting() {
  static HashSetting setting{drawKey(), ~uint64_t{0}};
  return setting;
}
}  // namespace detail

void fixHashKeyForTesting(HashKey key, int bits) {
  detail::hashSetting() = detail::HashSetting{key, bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1};
}

}  // namespace mero
