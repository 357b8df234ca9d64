#pragma once
// Every count, length and position in the three files is a signed 32-bit
// integer stored least significant byte first.

#include <cstdint>

namespace mero {

inline void encodeInt32(int32_t value, unsigned char out[4]) {
  const uint32_t v = static_cast<uint32_t>(value);
  out[0] = static_cast<unsigned char>(v);
  out[1] = static_cast<unsigned char>(v >> 8);
  out[2] = static_cast<unsigned char>(v >> 16);
  out[3] = static_cast<unsigned char>(v >> 24);
}

inline int32_t decodeInt32(const unsigned char in[4]) {
  const uint32_t v = uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) | (uint32_t{in[3]} << 24);
  return static_cast<int32_t>(v);
}

inline void encodeInt32(int32_t value, char out[4]) { encodeInt32(value, reinterpret_cast<unsigned char*>(out)); }
inline int32_t decodeInt32(const char in[4]) { return decodeInt32(reinterpret_cast<const unsigned char*>(in)); }

}  // namespace mero
