#include "engine/value_hash_index.h"

#include <algorithm>
#include <bit>

#include "engine/byte_hash.h"
#include "engine/search_text.h"

namespace mero {

uint32_t ValueHashIndex::hashOf(std::string_view stored) {
  const uint64_t h = hashBytes(stored);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

void ValueHashIndex::clear() {
  valueOfSlot_.clear();
  values_.clear();
  freeValues_.clear();
  lists_.clear();
  freeLists_.clear();
  table_.clear();
  shift_ = 32;
  loading_ = false;
  loaded_.clear();
  recent_.clear();
  distinct_ = 0;
  liveSlots_ = 0;
  staleEntries_ = 0;
}

void ValueHashIndex::reserve(size_t slots) { valueOfSlot_.reserve(slots); }

std::string_view ValueHashIndex::bytesOf(uint32_t value) const {
  return text_->valueOf(values_[value].rep);
}

uint32_t ValueHashIndex::find(std::string_view stored) const {
  if (table_.empty()) return kNone;
  const uint32_t hash = hashOf(stored);
  const size_t mask = table_.size() - 1;
  for (size_t i = homeOf(hash); table_[i].value != kNone; i = (i + 1) & mask)
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
  renumberIfMostlyFree();
}

void ValueHashIndex::remove(uint32_t slot) {
  if (slot >= valueOfSlot_.size() || valueOfSlot_[slot] == kNone) return;
  leave(slot);
  sweepIfMostlyStale();
  renumberIfMostlyFree();
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
  // At most 80% full, so probe runs stay short.
  if (5 * (distinct_ + 1) > 4 * table_.size()) growTable(table_.empty() ? 16 : 2 * table_.size());
  const size_t mask = table_.size() - 1;
  size_t i = homeOf(hash);
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
  size_t gap = homeOf(values_[v].hash);
  while (table_[gap].value != v) gap = (gap + 1) & mask;
  // Backward shift: later places of the run move into the gap unless their
  // home lies (cyclically) between the gap and themselves.
  for (size_t j = (gap + 1) & mask; table_[j].value != kNone; j = (j + 1) & mask) {
    const size_t home = homeOf(table_[j].hash);
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
  shift_ = 32 - std::countr_zero(capacity);
  const size_t mask = capacity - 1;
  for (const Place& p : old) {
    if (p.value == kNone) continue;
    size_t i = homeOf(p.hash);
    while (table_[i].value != kNone) i = (i + 1) & mask;
    table_[i] = p;
  }
}

void ValueHashIndex::beginLoading(size_t slots) {
  loading_ = true;
  loaded_.reserve(slots);
  recent_.assign(4096, Place{0, kNone});
}

// A value seen a moment ago is recognised here, while this slot's bytes are
// at hand, so that sorting need not compare them again.
void ValueHashIndex::load(uint32_t slot, std::string_view stored) {
  const uint32_t hash = hashOf(stored);
  valueOfSlot_.push_back(kNone);
  Place& recent = recent_[hash & (recent_.size() - 1)];
  uint32_t sameAs = slot;
  if (recent.value != kNone && recent.hash == hash && text_->valueOf(recent.value) == stored) {
    sameAs = recent.value;
  } else {
    recent = Place{hash, slot};
  }
  loaded_.push_back(Loaded{hash, slot, sameAs});
}

void ValueHashIndex::finishLoading() {
  loading_ = false;
  std::vector<Place>().swap(recent_);
  std::vector<Loaded> loaded;
  loaded.swap(loaded_);
  // A stable radix sort by hash: slots of one value stay in slot order.
  std::vector<Loaded> sorted(loaded.size());
  for (int shift = 0; shift < 32; shift += 11) {
    std::vector<size_t> starts(2049, 0);
    for (const Loaded& e : loaded) ++starts[(e.hash >> shift & 2047) + 1];
    for (size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
    for (const Loaded& e : loaded) sorted[starts[e.hash >> shift & 2047]++] = e;
    loaded.swap(sorted);
  }
  std::vector<Loaded>().swap(sorted);
  size_t hashes = 0;
  for (size_t i = 0; i < loaded.size(); ++i) hashes += i == 0 || loaded[i].hash != loaded[i - 1].hash;
  size_t capacity = 16;
  while (5 * hashes > 4 * capacity) capacity *= 2;
  if (capacity > table_.size()) growTable(capacity);
  values_.reserve(values_.size() + hashes);
  std::vector<uint32_t> groupValues;  // the values of one hash, nearly always one
  for (size_t i = 0; i < loaded.size(); ++i) {
    const Loaded& e = loaded[i];
    if (i == 0 || e.hash != loaded[i - 1].hash) groupValues.clear();
    uint32_t v = e.sameAs != e.slot ? valueOfSlot_[e.sameAs] : kNone;
    for (size_t g = 0; v == kNone && g < groupValues.size(); ++g)
      if (bytesOf(groupValues[g]) == text_->valueOf(e.slot)) v = groupValues[g];
    if (v == kNone) {
      v = newValue(e.hash, e.slot);
      groupValues.push_back(v);
    } else {
      join(v, e.slot);
    }
    valueOfSlot_[e.slot] = v;
    ++liveSlots_;
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

// Values that died leave their numbers (and lists) free for reuse; once the
// free ones outnumber the live ones, the live values are numbered afresh and
// the table sized to them, so memory follows the live values.
void ValueHashIndex::renumberIfMostlyFree() {
  if (freeValues_.size() <= distinct_ + 4096 && freeLists_.size() <= lists_.size() / 2 + 4096) return;
  std::vector<uint32_t> renumbered(values_.size(), kNone);
  std::vector<Value> values;
  std::vector<std::vector<uint32_t>> lists;
  values.reserve(distinct_);
  for (uint32_t v = 0; v < values_.size(); ++v) {
    Value value = values_[v];
    if (value.rep == kNone) continue;
    if (value.list != kNone) {
      lists.push_back(std::move(lists_[value.list]));
      value.list = static_cast<uint32_t>(lists.size() - 1);
    }
    renumbered[v] = static_cast<uint32_t>(values.size());
    values.push_back(value);
  }
  for (uint32_t& v : valueOfSlot_)
    if (v != kNone) v = renumbered[v];
  for (Place& place : table_)
    if (place.value != kNone) place.value = renumbered[place.value];
  values_.swap(values);
  lists_.swap(lists);
  std::vector<uint32_t>().swap(freeValues_);
  std::vector<uint32_t>().swap(freeLists_);
  size_t capacity = 16;
  while (5 * distinct_ > 4 * capacity) capacity *= 2;
  if (capacity < table_.size()) growTable(capacity);
}

}  // namespace mero
