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

// Search normalisation: ASCII a..z become A..Z; every other byte, including
// all bytes of non-ASCII characters, stays as it is. Branch-free, so the
// loops that use it vectorise.
inline unsigned char upperByte(unsigned char c) {
  return static_cast<unsigned char>(c - (static_cast<unsigned char>(c - 'a') < 26 ? 0x20 : 0));
}

inline void upperCase(char* bytes, size_t n) {
  auto* b = reinterpret_cast<unsigned char*>(bytes);
  for (size_t i = 0; i < n; ++i) b[i] = upperByte(b[i]);
}

class FieldCipher {
 public:
  FieldCipher() = default;
  explicit FieldCipher(std::string_view key) : reversedKey_(key.rbegin(), key.rend()) {
    // The key repeated to at least kExpandedBytes, whole repeats only, so a
    // value's bytes meet their key bytes in one straight, vectorisable loop.
    if (!reversedKey_.empty())
      while (expanded_.size() < kExpandedBytes) expanded_ += reversedKey_;
  }

  size_t keyLength() const { return reversedKey_.size(); }
  const std::string& reversedKey() const { return reversedKey_; }

  // out may be the same buffer as in.
  void encode(const char* in, size_t n, char* out) const {
    apply(in, n, out, [](unsigned char v, unsigned char k) { return static_cast<unsigned char>(v + k); });
  }
  void decode(const char* in, size_t n, char* out) const {
    apply(in, n, out, [](unsigned char c, unsigned char k) { return static_cast<unsigned char>(c - k); });
  }
  // decode followed by upperCase, in one pass.
  void decodeUpper(const char* in, size_t n, char* out) const {
    apply(in, n, out, [](unsigned char c, unsigned char k) { return upperByte(static_cast<unsigned char>(c - k)); });
  }

 private:
  static constexpr size_t kExpandedBytes = 256;

  template <typename Combine>
  void apply(const char* in, size_t n, char* out, Combine combine) const {
    const auto* src = reinterpret_cast<const unsigned char*>(in);
    auto* dst = reinterpret_cast<unsigned char*>(out);
    if (expanded_.empty()) {  // an empty key adds nothing
      for (size_t i = 0; i < n; ++i) dst[i] = combine(src[i], 0);
      return;
    }
    const auto* k = reinterpret_cast<const unsigned char*>(expanded_.data());
    const size_t period = expanded_.size();  // a whole number of key repeats
    for (size_t base = 0; base < n; base += period) {
      const size_t run = n - base < period ? n - base : period;
      for (size_t j = 0; j < run; ++j) dst[base + j] = combine(src[base + j], k[j]);
    }
  }

  std::string reversedKey_;
  std::string expanded_;
};

}  // namespace mero
