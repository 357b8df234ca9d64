#include "engine/record_table.h"

#include <algorithm>

namespace mero {

void RecordTable::clear() {
  positions_.clear();
  slotPositions_.clear();
  liveTree_.assign(1, 0);
  byPosition_.clear();
  sorted_ = true;
}

void RecordTable::reserve(size_t records) {
  positions_.reserve(records + 10);
  slotPositions_.reserve(records);
  liveTree_.reserve(records + 1);
  byPosition_.reserve(records);
}

void RecordTable::noteEntry(int32_t position, uint32_t slot) {
  if (!byPosition_.empty() && byPosition_.back().position >= position) sorted_ = false;
  byPosition_.push_back(Entry{position, slot});
}

uint32_t RecordTable::append(int32_t position) {
  if (liveTree_.empty()) liveTree_.assign(1, 0);
  const auto slot = static_cast<uint32_t>(slotPositions_.size());
  slotPositions_.push_back(position);
  positions_.push_back(position);
  noteEntry(position, slot);
  // Extending a Fenwick tree: node i covers (i - lowbit(i), i], whose sum is
  // this slot's 1 plus the live slots in (i - lowbit(i), i - 1].
  const uint32_t i = slot + 1;
  int32_t sum = 1;
  for (uint32_t j = i - 1, stop = i - (i & (0u - i)); j > stop; j -= j & (0u - j)) sum += liveTree_[j];
  liveTree_.push_back(sum);
  return slot;
}

bool RecordTable::finishLoading() {
  if (!sorted_) {
    std::sort(byPosition_.begin(), byPosition_.end(),
              [](const Entry& a, const Entry& b) { return a.position < b.position; });
    sorted_ = true;
  }
  for (size_t i = 1; i < byPosition_.size(); ++i)
    if (byPosition_[i - 1].position == byPosition_[i].position) return false;
  return true;
}

bool RecordTable::slotOf(int32_t position, uint32_t& slot) const {
  const auto at = std::lower_bound(byPosition_.begin(), byPosition_.end(), position,
                                   [](const Entry& e, int32_t p) { return e.position < p; });
  if (at == byPosition_.end() || at->position != position || slotPositions_[at->slot] != position) return false;
  slot = at->slot;
  return true;
}

void RecordTable::move(uint32_t slot, int32_t newPosition) {
  positions_[static_cast<size_t>(recordNumberOf(slot))] = newPosition;
  slotPositions_[slot] = newPosition;
  noteEntry(newPosition, slot);
  if (!sorted_) finishLoading();  // only if the data file shrank underneath us
  dropStaleEntries();
}

void RecordTable::remove(uint32_t slot) {
  positions_.erase(positions_.begin() + recordNumberOf(slot));
  slotPositions_[slot] = -1;
  addLive(slot, -1);
  dropStaleEntries();
}

// Entries of deleted and moved records are dropped once they outnumber the
// live ones, so the table stays within twice its live size.
void RecordTable::dropStaleEntries() {
  if (byPosition_.size() <= 2 * positions_.size() + 1024) return;
  std::erase_if(byPosition_, [this](const Entry& e) { return slotPositions_[e.slot] != e.position; });
}

std::vector<uint32_t> RecordTable::slotRenumbering() const {
  std::vector<uint32_t> renumbering(slotPositions_.size(), kNoSlot);
  uint32_t next = 0;
  for (uint32_t slot = 0; slot < slotPositions_.size(); ++slot)
    if (slotPositions_[slot] >= 0) renumbering[slot] = next++;
  return renumbering;
}

void RecordTable::renumberSlots(const std::vector<uint32_t>& renumbering) {
  std::vector<Entry> byPosition;
  byPosition.reserve(positions_.size() + positions_.size() / 2);
  for (const Entry& e : byPosition_)
    if (slotPositions_[e.slot] == e.position) byPosition.push_back(Entry{e.position, renumbering[e.slot]});
  byPosition_.swap(byPosition);
  std::vector<int32_t>(positions_).swap(slotPositions_);
  std::vector<int32_t>(positions_).swap(positions_);  // gives back the room of the deleted
  // Every slot is live: node i of the Fenwick tree counts the lowbit(i)
  // slots it covers.
  std::vector<int32_t> tree(positions_.size() + 1, 0);
  for (uint32_t i = 1; i < tree.size(); ++i) tree[i] = static_cast<int32_t>(i & (0u - i));
  liveTree_.swap(tree);
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
