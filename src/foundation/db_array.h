#pragma once
// DbArray: a growable array that holds exactly `count` elements and no spare
// capacity. Every resize reallocates and copies, which keeps the type simple;
// the hot per-record lists of the engine use std::vector instead.
//
// Invariant: data holds exactly count elements, or is null while the array has
// never been sized. at() outside [0, count) ends the process.

#include <algorithm>
#include <cstdint>
#include <utility>

#include "foundation/fatal_error.h"

namespace mero {

template <typename T>
class DbArray {
 public:
  DbArray() = default;

  // Fill construction: n elements, each a copy of value.
  DbArray(int32_t n, const T& value) : count_(n), data_(new T[static_cast<size_t>(n)]) {
    std::fill(data_, data_ + n, value);
  }

  DbArray(const DbArray& other) { copyFrom(other); }

  DbArray& operator=(const DbArray& other) {
    if (this != &other) {
      delete[] data_;
      data_ = nullptr;
      count_ = 0;
      copyFrom(other);
    }
    return *this;
  }

  DbArray(DbArray&& other) noexcept
      : count_(std::exchange(other.count_, 0)), data_(std::exchange(other.data_, nullptr)) {}

  DbArray& operator=(DbArray&& other) noexcept {
    if (this != &other) {
      delete[] data_;
      count_ = std::exchange(other.count_, 0);
      data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
  }

  ~DbArray() { delete[] data_; }

  int32_t size() const { return count_; }

  // Reallocates to exactly n elements, keeping the first min(n, count). New
  // elements are default-constructed (empty strings; undefined for scalars).
  void resize(int32_t n) {
    T* fresh = new T[static_cast<size_t>(n)];
    const int32_t kept = std::min(n, count_);
    for (int32_t i = 0; i < kept; ++i) fresh[i] = std::move(data_[i]);
    delete[] data_;
    data_ = fresh;
    count_ = n;
  }

  T& at(int32_t i) {
    if (i < 0 || i >= count_) fatalArrayIndex(i, count_);
    return data_[i];
  }
  const T& at(int32_t i) const {
    if (i < 0 || i >= count_) fatalArrayIndex(i, count_);
    return data_[i];
  }

  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

 private:
  void copyFrom(const DbArray& other) {
    if (other.data_ == nullptr) return;
    data_ = new T[static_cast<size_t>(other.count_)];
    count_ = other.count_;
    std::copy(other.data_, other.data_ + other.count_, data_);
  }

  int32_t count_ = 0;
  T* data_ = nullptr;
};

}  // namespace mero
