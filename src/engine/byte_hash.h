#pragma once
// hashBytes: a fast hash of a short byte string for the in-memory hash
// tables (the key index, the value hashes). Values are mostly a few dozen
// bytes, so it takes eight bytes a step and ends with a full avalanche, which
// makes both its high and its low bits fit to pick a table place. It is not
// keyed: tables hold their data's own keys, and a collision costs a probe,
// never a wrong answer (every hit is compared byte for byte).

#include <cstdint>
#include <cstring>
#include <string_view>

namespace mero {

inline uint64_t hashBytes(std::string_view bytes) {
  constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  const char* p = bytes.data();
  size_t n = bytes.size();
  uint64_t h = n * kOdd;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word = 0;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * kOdd;
    h ^= h >> 32;
  }
  if (n > 0) {
    uint64_t word = 0;
    std::memcpy(&word, p, n);
    h = (h ^ word) * kOdd;
  }
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

}  // namespace mero
