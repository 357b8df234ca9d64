#pragma once
// The field cipher adds the key's bytes to a value's bytes, key reversed and
// restarted at every value: stored[i] = plain[i] + k[i mod L] (mod 256), where
// k[0] is the last byte of the key string. Equal plain values therefore always
// store equal bytes. This is obfuscation, not encryption.
//
// An empty key adds nothing: values are stored as they are.

#include <cstddef>
#include <string>
#include <string_view>

namespace mero {

class FieldCipher {
 public:
  FieldCipher() = default;
  explicit FieldCipher(std::string_view key) : reversedKey_(key.rbegin(), key.rend()) {}

  size_t keyLength() const { return reversedKey_.size(); }
  const std::string& reversedKey() const { return reversedKey_; }

  // out may be the same buffer as in.
  void encode(const char* in, size_t n, char* out) const { apply(in, n, out, +1); }
  void decode(const char* in, size_t n, char* out) const { apply(in, n, out, -1); }

 private:
  void apply(const char* in, size_t n, char* out, int sign) const {
    const size_t keyLength = reversedKey_.size();
    if (keyLength == 0) {
      if (out != in) std::char_traits<char>::copy(out, in, n);
      return;
    }
    const auto* k = reinterpret_cast<const unsigned char*>(reversedKey_.data());
    const auto* src = reinterpret_cast<const unsigned char*>(in);
    auto* dst = reinterpret_cast<unsigned char*>(out);
    for (size_t base = 0; base < n; base += keyLength) {
      const size_t run = n - base < keyLength ? n - base : keyLength;
      for (size_t j = 0; j < run; ++j)
        dst[base + j] = static_cast<unsigned char>(src[base + j] + sign * k[j]);
    }
  }

  std::string reversedKey_;
};

// Search normalisation: ASCII a..z become A..Z; every other byte, including
// all bytes of non-ASCII characters, stays as it is.
inline void upperCase(char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 'a' && c <= 'z') bytes[i] = static_cast<char>(c - 0x20);
  }
}

inline unsigned char upperByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 0x20) : c;
}

}  // namespace mero
