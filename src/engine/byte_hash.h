#pragma once
// hashBytes: the hash of the in-memory hash tables (the key index, the value
// hashes). Whoever writes records chooses their keys and values, so the hash
// must not let them choose collisions: it is SipHash-1-3 under a secret key
// drawn at random once per process. The hash is never stored, so it may
// differ from run to run; a collision still costs only a probe, never a
// wrong answer (every hit is compared byte for byte), and the tables bound
// their probes besides, so even colliding entries cost a logarithm.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace mero {

struct HashKey {
  uint64_t k0;
  uint64_t k1;
};

namespace detail {
struct HashSetting {
  HashKey key;
  uint64_t keptBits;  // a mask: all ones, except when a test narrows the hash
};
HashSetting& hashSetting();
}  // namespace detail

// For tests and benchmarks only, before any table is built, never while one
// is in use: fixes the key, so runs repeat exactly, and keeps only the low
// `bits` bits of every hash (64: all), so that collisions are easy to make.
void fixHashKeyForTesting(HashKey key, int bits = 64);

namespace detail {
inline uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
inline void sipRound(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
  v0 += v1;
  v1 = rotl(v1, 13);
  v1 ^= v0;
  v0 = rotl(v0, 32);
  v2 += v3;
  v3 = rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = rotl(v1, 17);
  v1 ^= v2;
  v2 = rotl(v2, 32);
}
}  // namespace detail

// SipHash-1-3: one round per 8-byte word, three to finish. Words are read
// little-endian, as both targets are.
inline uint64_t hashBytes(std::string_view bytes) {
  const detail::HashSetting& setting = detail::hashSetting();
  uint64_t v0 = setting.key.k0 ^ 0x736f6d6570736575ull;
  uint64_t v1 = setting.key.k1 ^ 0x646f72616e646f6dull;
  uint64_t v2 = setting.key.k0 ^ 0x6c7967656e657261ull;
  uint64_t v3 = setting.key.k1 ^ 0x7465646279746573ull;
  const char* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word = 0;
    std::memcpy(&word, p, 8);
    v3 ^= word;
    detail::sipRound(v0, v1, v2, v3);
    v0 ^= word;
  }
  uint64_t last = static_cast<uint64_t>(bytes.size()) << 56;
  if (n > 0) {
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    last |= tail;
  }
  v3 ^= last;
  detail::sipRound(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  detail::sipRound(v0, v1, v2, v3);
  detail::sipRound(v0, v1, v2, v3);
  detail::sipRound(v0, v1, v2, v3);
  return (v0 ^ v1 ^ v2 ^ v3) & setting.keptBits;
}

// The 32 bits the tables keep of a hash.
inline uint32_t hashBytes32(std::string_view bytes) {
  const uint64_t h = hashBytes(bytes);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace mero
