#pragma once
// DbString: a counted, zero-terminated byte string with a capacity. It holds
// the exact modified UTF-8 bytes the JVM hands over, so its text never
// contains a zero byte; every operation that takes text stops at the first
// zero of its source.
//
// Invariants: storage always exists (the empty string is one zero byte);
// capacity >= length + 1; capacity never shrinks while the string lives.

#include <cstdint>
#include <string_view>

namespace mero {

class DbString {
 public:
  DbString();
  DbString(const char* text);                 // NOLINT: implicit, like the text it copies
  explicit DbString(std::string_view bytes);  // stops at the first zero byte
  DbString(const DbString& other);
  DbString(DbString&& other) noexcept;
  ~DbString();

  DbString& operator=(const char* text);
  DbString& operator=(const DbString& other);
  DbString& operator=(DbString&& other) noexcept;

  int32_t length() const { return length_; }
  int32_t capacity() const { return capacity_; }
  const char* chars() const { return data_; }
  std::string_view view() const { return {data_, static_cast<size_t>(length_)}; }

  char& at(int32_t i);
  char at(int32_t i) const;

  DbString& operator+=(const DbString& other);

  // First start index of needle within this text, or -1. Empty needle: 0.
  int32_t indexOf(const DbString& needle) const;

  friend bool operator==(const DbString& a, const DbString& b) { return a.view() == b.view(); }
  friend bool operator!=(const DbString& a, const DbString& b) { return !(a == b); }
  // Unsigned byte order; a proper prefix sorts first.
  friend bool operator<(const DbString& a, const DbString& b) { return a.view() < b.view(); }

 private:
  void assignBytes(const char* bytes, int32_t length);

  int32_t length_ = 0;
  int32_t capacity_ = 0;
  char* data_ = nullptr;
};

DbString operator+(const DbString& a, const DbString& b);

}  // namespace mero
