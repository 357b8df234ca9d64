#pragma once
// FieldValues: the values of one record (or one request) in a single buffer,
// each followed by a zero byte so it can be handed out as a C string. Values
// read back with a wrong key can contain zero bytes themselves, so lengths
// are always kept explicitly and zero termination is only a convenience.
//
// Refilling the same object reuses its storage: the engine's hot paths keep
// one per database and allocate only when a larger record comes along. After
// a call, releaseIfLarge() gives back storage that only an unusually large
// record needed, so an idle buffer never pins the largest record ever seen.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mero {

// Scratch storage up to this size is kept between calls; beyond it, released.
constexpr size_t kScratchKeepBytes = size_t{1} << 20;

inline void releaseIfLarge(std::string& scratch) {
  if (scratch.capacity() > kScratchKeepBytes) std::string().swap(scratch);
}

class FieldValues {
 public:
  void clear() {
    bytes_.clear();
    starts_.clear();
  }
  void reserveBytes(size_t n) { bytes_.reserve(n); }

  void add(std::string_view value) {
    starts_.push_back(bytes_.size());
    bytes_.append(value);
    bytes_.push_back('\0');
  }
  // Adds a value of n bytes and returns where to write them.
  char* addUninitialised(size_t n) {
    starts_.push_back(bytes_.size());
    bytes_.resize(bytes_.size() + n + 1);
    bytes_.back() = '\0';
    return bytes_.data() + starts_.back();
  }

  void releaseIfLarge() {
    if (bytes_.capacity() > kScratchKeepBytes) std::string().swap(bytes_);
    if (starts_.capacity() * sizeof(size_t) > kScratchKeepBytes) std::vector<size_t>().swap(starts_);
  }

  int32_t size() const { return static_cast<int32_t>(starts_.size()); }
  std::string_view operator[](int32_t i) const {
    const size_t start = starts_[static_cast<size_t>(i)];
    const size_t end =
        static_cast<size_t>(i) + 1 < starts_.size() ? starts_[static_cast<size_t>(i) + 1] : bytes_.size();
    return {bytes_.data() + start, end - start - 1};
  }
  // Total bytes of all values, terminators excluded.
  size_t valueBytes() const { return bytes_.size() - starts_.size(); }

 private:
  std::string bytes_;
  std::vector<size_t> starts_;
};

}  // namespace mero
