#include "engine/search_pool.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace mero {

SearchPool::SearchPool(const DbArray<uint8_t>& indexed)
    : indexed_(indexed.begin(), indexed.end()),
      pool_(new char[kInitialCapacity]),
      valueOffsets_(indexed_.size()),
      valueLengths_(indexed_.size()) {}

uint64_t SearchPool::indexedBytes(const FieldValues& values) const {
  uint64_t total = 0;
  for (int32_t f = 0; f < values.size() && static_cast<size_t>(f) < indexed_.size(); ++f)
    if (indexed_[f]) total += values[f].size();
  return total;
}

void SearchPool::makeRoom(uint64_t valueLength) {
  uint64_t capacity = poolCapacity_;
  if (capacity - poolUsed_ < capacity / 4) capacity *= 2;
  while (capacity - poolUsed_ < valueLength) capacity *= 2;
  capacity = std::min(capacity, kMaxCapacity);
  if (capacity == poolCapacity_) return;
  std::unique_ptr<char[]> grown(new char[capacity]);
  std::memcpy(grown.get(), pool_.get(), poolUsed_);
  pool_ = std::move(grown);
  poolCapacity_ = capacity;
}

uint32_t SearchPool::place(std::string_view value, const FieldCipher& cipher, uint64_t at) {
  char* out = pool_.get() + at;
  std::memcpy(out, value.data(), value.size());
  upperCase(out, value.size());
  cipher.encode(out, value.size(), out);
  const auto length = static_cast<uint32_t>(value.size());
  longestValue_ = std::max(longestValue_, length);
  return length;
}

void SearchPool::poolAdd(uint32_t slot, const FieldValues& values, const FieldCipher& cipher) {
  for (size_t f = 0; f < indexed_.size(); ++f) {
    if (!indexed_[f]) continue;
    const std::string_view value = values[static_cast<int32_t>(f)];
    assert(valueOffsets_[f].size() == slot);
    static_cast<void>(slot);
    makeRoom(value.size());
    valueOffsets_[f].push_back(static_cast<uint32_t>(poolUsed_));
    valueLengths_[f].push_back(place(value, cipher, poolUsed_));
    poolUsed_ += value.size();
  }
}

void SearchPool::poolReplace(int32_t field, uint32_t slot, std::string_view value,
                             const FieldCipher& cipher) {
  const uint32_t oldLength = valueLengths_[field][slot];
  makeRoom(value.size());
  if (oldLength < value.size()) {
    valueOffsets_[field][slot] = static_cast<uint32_t>(poolUsed_);
    poolUsed_ += value.size();
    deadBytes_ += oldLength;
  } else {
    deadBytes_ += oldLength - value.size();
  }
  valueLengths_[field][slot] = place(value, cipher, valueOffsets_[field][slot]);
  compactIfMostlyDead();
}

void SearchPool::poolRemove(uint32_t slot) {
  for (size_t f = 0; f < indexed_.size(); ++f) {
    if (!indexed_[f]) continue;
    deadBytes_ += valueLengths_[f][slot];
    valueOffsets_[f][slot] = 0;
    valueLengths_[f][slot] = 0;
  }
  compactIfMostlyDead();
}

// Copies every entry, field by field and slot by slot, into a new pool sized
// as if the live bytes had been added one by one. The floor keeps a small
// pool from being rebuilt over and over for a few dead bytes.
void SearchPool::compactIfMostlyDead() {
  const uint64_t live = poolUsed_ - deadBytes_;
  if (deadBytes_ <= live || deadBytes_ <= kInitialCapacity) return;
  uint64_t capacity = kInitialCapacity;
  while (capacity - live < capacity / 4) capacity *= 2;
  std::unique_ptr<char[]> compacted(new char[std::min(capacity, kMaxCapacity)]);
  uint64_t used = 0;
  longestValue_ = 0;
  for (size_t f = 0; f < indexed_.size(); ++f) {
    for (size_t slot = 0; slot < valueOffsets_[f].size(); ++slot) {
      const uint32_t n = valueLengths_[f][slot];
      std::memcpy(compacted.get() + used, pool_.get() + valueOffsets_[f][slot], n);
      valueOffsets_[f][slot] = static_cast<uint32_t>(used);
      used += n;
      longestValue_ = std::max(longestValue_, n);
    }
  }
  assert(used == live);
  pool_ = std::move(compacted);
  poolCapacity_ = std::min(capacity, kMaxCapacity);
  poolUsed_ = used;
  deadBytes_ = 0;
}

}  // namespace mero
