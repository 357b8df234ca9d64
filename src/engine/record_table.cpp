#include "engine/record_table.h"

namespace mero {

void RecordTable::clear() {
  positions_.clear();
  slotPositions_.clear();
  liveTree_.assign(1, 0);
  positionMap_.clear();
}

void RecordTable::reserve(size_t records) {
  positions_.reserve(records + 10);
  slotPositions_.reserve(records);
  liveTree_.reserve(records + 1);
  positionMap_.reserve(records);
}

bool RecordTable::append(int32_t position, uint32_t& slot) {
  if (liveTree_.empty()) liveTree_.assign(1, 0);
  slot = static_cast<uint32_t>(slotPositions_.size());
  if (!positionMap_.insert(position, slot)) return false;
  slotPositions_.push_back(position);
  positions_.push_back(position);
  // Extending a Fenwick tree: node i covers (i - lowbit(i), i], whose sum is
  // this slot's 1 plus the live slots in (i - lowbit(i), i - 1].
  const uint32_t i = slot + 1;
  int32_t sum = 1;
  for (uint32_t j = i - 1, stop = i - (i & (0u - i)); j > stop; j -= j & (0u - j)) sum += liveTree_[j];
  liveTree_.push_back(sum);
  return true;
}

void RecordTable::move(uint32_t slot, int32_t newPosition) {
  const int32_t r = recordNumberOf(slot);
  positionMap_.erase(slotPositions_[slot]);
  positionMap_.insert(newPosition, slot);  // a new position: the old end of the data file
  slotPositions_[slot] = newPosition;
  positions_[static_cast<size_t>(r)] = newPosition;
}

void RecordTable::remove(uint32_t slot) {
  const int32_t r = recordNumberOf(slot);
  positionMap_.erase(slotPositions_[slot]);
  slotPositions_[slot] = -1;
  positions_.erase(positions_.begin() + r);
  addLive(slot, -1);
}

void RecordTable::addLive(uint32_t slot, int delta) {
  for (uint32_t i = slot + 1; i < liveTree_.size(); i += i & (0u - i)) liveTree_[i] += delta;
}

int32_t RecordTable::recordNumberOf(uint32_t slot) const {
  int32_t before = 0;  // live slots below this one
  for (uint32_t i = slot; i > 0; i -= i & (0u - i)) before += liveTree_[i];
  return before;
}

}  // namespace mero
