#include "foundation/db_string.h"

#include <cstring>
#include <utility>

#include "foundation/fatal_error.h"

namespace mero {

namespace {
int32_t textLength(const char* text) { return static_cast<int32_t>(std::strlen(text)); }
}  // namespace

DbString::DbString() : length_(0), capacity_(1), data_(new char[1]{0}) {}

DbString::DbString(const char* text) : DbString() { *this = text; }

DbString::DbString(std::string_view bytes) : DbString() {
  const size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  assignBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
}

DbString::DbString(const DbString& other)
    : length_(other.length_), capacity_(other.length_ + 1), data_(new char[capacity_]) {
  std::memcpy(data_, other.data_, static_cast<size_t>(length_) + 1);
}

DbString::DbString(DbString&& other) noexcept : DbString() {
  std::swap(length_, other.length_);
  std::swap(capacity_, other.capacity_);
  std::swap(data_, other.data_);
}

DbString::~DbString() { delete[] data_; }

DbString& DbString::operator=(const char* text) {
  assignBytes(text, textLength(text));
  return *this;
}

DbString& DbString::operator=(const DbString& other) {
  if (this != &other) assignBytes(other.data_, other.length_);
  return *this;
}

DbString& DbString::operator=(DbString&& other) noexcept {
  std::swap(length_, other.length_);
  std::swap(capacity_, other.capacity_);
  std::swap(data_, other.data_);
  return *this;
}

// Storage is reused whenever the text fits, so refilling one string with
// values allocates only when a longer value arrives.
void DbString::assignBytes(const char* bytes, int32_t length) {
  const int32_t needed = length + 1;
  if (capacity_ < needed) {
    char* fresh = new char[needed];
    delete[] data_;
    data_ = fresh;
    capacity_ = needed;
  }
  std::memmove(data_, bytes, static_cast<size_t>(length));
  data_[length] = 0;
  length_ = length;
}

char& DbString::at(int32_t i) {
  if (i < 0 || i >= length_) fatalStringIndex(i, data_);
  return data_[i];
}

char DbString::at(int32_t i) const {
  if (i < 0 || i >= length_) fatalStringIndex(i, data_);
  return data_[i];
}

// Single-byte appends leave room to grow (a string built byte by byte would
// otherwise reallocate every time); all others grow to the exact fit.
DbString& DbString::operator+=(const DbString& other) {
  const DbString copy(other);  // appending a string to itself must work
  const int32_t newLength = length_ + copy.length_;
  if (newLength >= capacity_) {
    const int32_t newCapacity = copy.length_ == 1 ? 2 * (newLength + 1) : newLength + 1;
    char* fresh = new char[newCapacity];
    std::memcpy(fresh, data_, static_cast<size_t>(length_) + 1);
    delete[] data_;
    data_ = fresh;
    capacity_ = newCapacity;
  }
  std::memcpy(data_ + length_, copy.data_, static_cast<size_t>(copy.length_) + 1);
  length_ = newLength;
  return *this;
}

int32_t DbString::indexOf(const DbString& needle) const {
  const std::string_view::size_type at = view().find(needle.view());
  return at == std::string_view::npos ? -1 : static_cast<int32_t>(at);
}

DbString operator+(const DbString& a, const DbString& b) {
  DbString result(a);
  result += b;
  return result;
}

}  // namespace mero
