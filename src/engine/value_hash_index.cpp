#include "engine/value_hash_index.h"

#include <algorithm>
#include <functional>

#include "engine/search_pool.h"

namespace mero {

uint32_t ValueHashIndex::hashOf(std::string_view stored) {
  const uint64_t h = std::hash<std::string_view>{}(stored);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

void ValueHashIndex::clear() {
  valueOfSlot_.clear();
  values_.clear();
  freeValues_.clear();
  lists_.clear();
  freeLists_.clear();
  table_.clear();
  distinct_ = 0;
  liveSlots_ = 0;
  staleEntries_ = 0;
}

void ValueHashIndex::reserve(size_t slots) { valueOfSlot_.reserve(slots); }

std::string_view ValueHashIndex::bytesOf(uint32_t value) const {
  return pool_->poolEntry(field_, values_[value].rep);
}

uint32_t ValueHashIndex::find(std::string_view stored) const {
  if (table_.empty()) return kNone;
  const uint32_t hash = hashOf(stored);
  const size_t mask = table_.size() - 1;
  for (size_t i = hash & mask; table_[i].value != kNone; i = (i + 1) & mask)
    if (table_[i].hash == hash && bytesOf(table_[i].value) == stored) return table_[i].value;
  return kNone;
}

void ValueHashIndex::add(uint32_t slot, std::string_view stored) {
  if (slot == valueOfSlot_.size()) {
    valueOfSlot_.push_back(kNone);
  } else if (valueOfSlot_[slot] != kNone) {
    leave(slot);  // first, so that the value it leaves no longer reads its bytes
  }
  uint32_t v = find(stored);
  if (v == kNone) {
    v = newValue(hashOf(stored), slot);
  } else {
    join(v, slot);
  }
  valueOfSlot_[slot] = v;
  ++liveSlots_;
  sweepIfMostlyStale();
}

void ValueHashIndex::remove(uint32_t slot) {
  if (slot >= valueOfSlot_.size() || valueOfSlot_[slot] == kNone) return;
  leave(slot);
  sweepIfMostlyStale();
}

uint32_t ValueHashIndex::newValue(uint32_t hash, uint32_t slot) {
  uint32_t v = 0;
  if (!freeValues_.empty()) {
    v = freeValues_.back();
    freeValues_.pop_back();
    values_[v] = Value{hash, slot, kNone};
  } else {
    v = static_cast<uint32_t>(values_.size());
    values_.push_back(Value{hash, slot, kNone});
  }
  // At most 70% full, so probe runs stay short.
  if (10 * (distinct_ + 1) > 7 * table_.size()) growTable(table_.empty() ? 16 : 2 * table_.size());
  const size_t mask = table_.size() - 1;
  size_t i = hash & mask;
  while (table_[i].value != kNone) i = (i + 1) & mask;
  table_[i] = Place{hash, v};
  ++distinct_;
  return v;
}

void ValueHashIndex::join(uint32_t v, uint32_t slot) {
  Value& value = values_[v];
  if (value.list == kNone) {
    uint32_t list = 0;
    if (!freeLists_.empty()) {
      list = freeLists_.back();
      freeLists_.pop_back();
    } else {
      list = static_cast<uint32_t>(lists_.size());
      lists_.emplace_back();
    }
    lists_[list] = {std::min(value.rep, slot), std::max(value.rep, slot)};
    value.list = list;
    return;
  }
  std::vector<uint32_t>& slots = lists_[value.list];
  if (slots.empty() || slots.back() < slot) {  // an append: the usual case
    slots.push_back(slot);
    return;
  }
  const auto at = std::lower_bound(slots.begin(), slots.end(), slot);
  if (at != slots.end() && *at == slot) {
    --staleEntries_;  // it held the value before: its stale entry is live again
  } else {
    slots.insert(at, slot);
  }
}

// The value's rep is renewed from the back of its list, where stale entries
// are popped on the way: each stale entry is popped at most once, so this
// stays cheap whatever order slots leave in.
void ValueHashIndex::leave(uint32_t slot) {
  const uint32_t v = valueOfSlot_[slot];
  valueOfSlot_[slot] = kNone;
  --liveSlots_;
  Value& value = values_[v];
  if (value.list == kNone) {
    eraseValue(v);
    return;
  }
  ++staleEntries_;
  std::vector<uint32_t>& slots = lists_[value.list];
  while (!slots.empty() && valueOfSlot_[slots.back()] != v) {
    slots.pop_back();
    --staleEntries_;
  }
  if (slots.empty()) {
    eraseValue(v);
    return;
  }
  if (value.rep == slot) value.rep = slots.back();
}

void ValueHashIndex::eraseValue(uint32_t v) {
  const size_t mask = table_.size() - 1;
  size_t gap = values_[v].hash & mask;
  while (table_[gap].value != v) gap = (gap + 1) & mask;
  // Backward shift: later places of the run move into the gap unless their
  // home lies (cyclically) between the gap and themselves.
  for (size_t j = (gap + 1) & mask; table_[j].value != kNone; j = (j + 1) & mask) {
    const size_t home = table_[j].hash & mask;
    const bool stays = gap <= j ? (gap < home && home <= j) : (gap < home || home <= j);
    if (stays) continue;
    table_[gap] = table_[j];
    gap = j;
  }
  table_[gap].value = kNone;
  --distinct_;
  Value& value = values_[v];
  if (value.list != kNone) {
    std::vector<uint32_t>().swap(lists_[value.list]);
    freeLists_.push_back(value.list);
    value.list = kNone;
  }
  value.rep = kNone;
  freeValues_.push_back(v);
}

void ValueHashIndex::growTable(size_t capacity) {
  std::vector<Place> old(capacity, Place{0, kNone});
  old.swap(table_);
  const size_t mask = capacity - 1;
  for (const Place& p : old) {
    if (p.value == kNone) continue;
    size_t i = p.hash & mask;
    while (table_[i].value != kNone) i = (i + 1) & mask;
    table_[i] = p;
  }
}

// Drops stale entries once they outnumber the live slots; a list left with
// one slot goes back inline.
void ValueHashIndex::sweepIfMostlyStale() {
  if (staleEntries_ <= liveSlots_ + 4096) return;
  for (uint32_t v = 0; v < values_.size(); ++v) {
    Value& value = values_[v];
    if (value.rep == kNone || value.list == kNone) continue;
    std::vector<uint32_t>& slots = lists_[value.list];
    std::erase_if(slots, [&](uint32_t s) { return valueOfSlot_[s] != v; });
    if (slots.size() == 1) {
      value.rep = slots.front();
      std::vector<uint32_t>().swap(slots);
      freeLists_.push_back(value.list);
      value.list = kNone;
    }
  }
  staleEntries_ = 0;
}

}  // namespace mero
