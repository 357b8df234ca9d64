#include "engine/record_table.h"

#include <algorithm>
#include <cassert>

#include "foundation/invariant_checks.h"

namespace mero {

void RecordTable::clear() {
  positions_.clear();
  slotPositions_.clear();
  liveTree_.assign(1, 0);
  byPosition_.clear();
  sorted_ = true;
}

void RecordTable::reserve(size_t records) {
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
  if (sorted_) MERO_CHECK_INVARIANTS(slotPositions_.size(), changesUnchecked_);
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
  checkInvariants();
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
  positions_.set(static_cast<size_t>(recordNumberOf(slot)), newPosition);
  slotPositions_[slot] = newPosition;
  noteEntry(newPosition, slot);
  if (!sorted_) finishLoading();  // only if the data file shrank underneath us
  dropStaleEntries();
  MERO_CHECK_INVARIANTS(slotPositions_.size(), changesUnchecked_);
}

void RecordTable::remove(uint32_t slot) {
  positions_.erase(static_cast<size_t>(recordNumberOf(slot)));
  slotPositions_[slot] = -1;
  addLive(slot, -1);
  dropStaleEntries();
  MERO_CHECK_INVARIANTS(slotPositions_.size(), changesUnchecked_);
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
  slotPositions_ = positions_.toVector();
  // Every slot is live: node i of the Fenwick tree counts the lowbit(i)
  // slots it covers.
  std::vector<int32_t> tree(positions_.size() + 1, 0);
  for (uint32_t i = 1; i < tree.size(); ++i) tree[i] = static_cast<int32_t>(i & (0u - i));
  liveTree_.swap(tree);
  checkInvariants();
}

void RecordTable::addLive(uint32_t slot, int delta) {
  for (uint32_t i = slot + 1; i < liveTree_.size(); i += i & (0u - i)) liveTree_[i] += delta;
}

int32_t RecordTable::recordNumberOf(uint32_t slot) const {
  int32_t before = 0;  // live slots below this one
  for (uint32_t i = slot; i > 0; i -= i & (0u - i)) before += liveTree_[i];
  return before;
}

// The live slots, in slot order, are the records in record-number order;
// each node of the Fenwick tree counts the live slots it covers; byPosition
// ascends strictly, holds each live slot's entry once, and stays within
// twice the live records (dropStaleEntries).
void RecordTable::checkInvariants() const {
#ifndef NDEBUG
  if (!sorted_) return;  // loading: sorted once every record is in
  positions_.checkInvariants();
  const std::vector<int32_t> positions = positions_.toVector();
  const size_t slots = slotPositions_.size();
  assert(liveTree_.size() == slots + 1 || (slots == 0 && liveTree_.empty()));
  std::vector<int32_t> liveBelow(slots + 1, 0);
  for (size_t s = 0; s < slots; ++s) {
    const bool live = slotPositions_[s] >= 0;
    if (live) {
      assert(static_cast<size_t>(liveBelow[s]) < positions.size());
      assert(positions[static_cast<size_t>(liveBelow[s])] == slotPositions_[s]);
    }
    liveBelow[s + 1] = liveBelow[s] + (live ? 1 : 0);
  }
  assert(static_cast<size_t>(liveBelow[slots]) == positions_.size());
  for (size_t i = 1; i <= slots; ++i) assert(liveTree_[i] == liveBelow[i] - liveBelow[i - (i & (0 - i))]);
  size_t current = 0;
  for (size_t k = 0; k < byPosition_.size(); ++k) {
    const Entry& e = byPosition_[k];
    assert(k == 0 || byPosition_[k - 1].position < e.position);
    assert(e.slot < slots);
    if (slotPositions_[e.slot] == e.position) ++current;
  }
  assert(current == positions_.size());
  assert(byPosition_.size() <= 2 * positions_.size() + 1024);
#endif
}

}  // namespace mero
