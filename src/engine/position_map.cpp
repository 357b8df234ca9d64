#include "engine/position_map.h"

namespace mero {

size_t PositionMap::home(int32_t position) const {
  // Fibonacci hashing spreads positions, which are often regularly spaced.
  const uint64_t h = static_cast<uint64_t>(static_cast<uint32_t>(position)) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h >> 32) & (table_.size() - 1);
}

void PositionMap::clear() {
  table_.clear();
  size_ = 0;
}

void PositionMap::reserve(size_t entries) {
  size_t buckets = 16;
  while (buckets < 2 * entries) buckets *= 2;
  if (buckets > table_.size()) rehash(buckets);
}

void PositionMap::rehash(size_t buckets) {
  std::vector<Entry> old;
  old.swap(table_);
  table_.assign(buckets, Entry{kEmpty, 0});
  size_ = 0;
  for (const Entry& e : old)
    if (e.position != kEmpty) insert(e.position, e.slot);
}

bool PositionMap::insert(int32_t position, uint32_t slot) {
  if (2 * (size_ + 1) > table_.size()) rehash(table_.empty() ? 16 : 2 * table_.size());
  const size_t mask = table_.size() - 1;
  size_t i = home(position);
  while (table_[i].position != kEmpty) {
    if (table_[i].position == position) return false;
    i = (i + 1) & mask;
  }
  ++size_;
  table_[i] = Entry{position, slot};
  return true;
}

bool PositionMap::find(int32_t position, uint32_t& slot) const {
  if (table_.empty() || position < 0) return false;
  const size_t mask = table_.size() - 1;
  for (size_t i = home(position);; i = (i + 1) & mask) {
    if (table_[i].position == kEmpty) return false;
    if (table_[i].position == position) {
      slot = table_[i].slot;
      return true;
    }
  }
}

// Backward-shift deletion keeps every probe chain unbroken without tombstones.
void PositionMap::erase(int32_t position) {
  if (table_.empty()) return;
  const size_t mask = table_.size() - 1;
  size_t i = home(position);
  while (table_[i].position != position) {
    if (table_[i].position == kEmpty) return;
    i = (i + 1) & mask;
  }
  --size_;
  for (size_t j = (i + 1) & mask;; j = (j + 1) & mask) {
    if (table_[j].position == kEmpty) break;
    const size_t want = home(table_[j].position);
    // Move entry j into the hole at i unless its home lies cyclically in (i, j].
    const bool stays = (i <= j) ? (i < want && want <= j) : (i < want || want <= j);
    if (!stays) {
      table_[i] = table_[j];
      i = j;
    }
  }
  table_[i] = Entry{kEmpty, 0};
}

}  // namespace mero
