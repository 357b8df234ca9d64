#include "engine/value_hash_index.h"

#include <algorithm>
#include <bit>
#include <cassert>

#include "engine/byte_hash.h"
#include "engine/search_text.h"
#include "foundation/invariant_checks.h"

namespace mero {

uint32_t ValueHashIndex::hashOf(std::string_view stored) { return hashBytes32(stored); }

void ValueHashIndex::clear() {
  valueOfSlot_.clear();
  values_.clear();
  freeValues_.clear();
  lists_.clear();
  freeLists_.clear();
  table_.clear();
  overflow_.clear();
  overflowed_.clear();
  shift_ = 32;
  built_ = false;
  loaded_.clear();
  recent_.clear();
  distinct_ = 0;
  liveSlots_ = 0;
  staleEntries_ = 0;
}

void ValueHashIndex::reserve(size_t slots) {
  if (built_) valueOfSlot_.reserve(slots);
}

std::string_view ValueHashIndex::textOf(uint32_t slot) const { return text_->valueOf(slot); }

std::string_view ValueHashIndex::bytesOf(uint32_t value) const { return text_->valueOf(values_[value].rep); }

uint32_t ValueHashIndex::find(std::string_view stored) const {
  if (table_.empty()) return kNone;
  const uint32_t hash = hashOf(stored);
  const size_t mask = table_.size() - 1;
  size_t i = homeOf(hash);
  size_t same = 0;
  for (size_t n = 0; n < kProbeLimit && table_[i].value != kNone; ++n, i = (i + 1) & mask) {
    if (table_[i].hash != hash) continue;
    if (bytesOf(table_[i].value) == stored) return table_[i].value;
    if (++same == kSameHashLimit) break;
  }
  if (overflow_.empty()) return kNone;
  const auto it = overflow_.find(stored);
  return it == overflow_.end() ? kNone : it->second;
}

void ValueHashIndex::add(uint32_t slot, std::string_view stored) {
  if (!built_) return;
  if (slot == valueOfSlot_.size()) {
    valueOfSlot_.push_back(kNone);
  } else if (valueOfSlot_[slot] != kNone) {
    leave(slot);  // first, so that the value it leaves no longer reads its bytes
  }
  uint32_t v = find(stored);
  if (v == kNone) {
    v = newValue(hashOf(stored), slot, stored);
  } else {
    join(v, slot);
  }
  valueOfSlot_[slot] = v;
  ++liveSlots_;
  sweepIfMostlyStale();
  renumberIfMostlyFree();
  MERO_CHECK_INVARIANTS(valueOfSlot_.size(), changesUnchecked_);
}

void ValueHashIndex::remove(uint32_t slot) {
  if (!built_ || slot >= valueOfSlot_.size() || valueOfSlot_[slot] == kNone) return;
  leave(slot);
  sweepIfMostlyStale();
  renumberIfMostlyFree();
  MERO_CHECK_INVARIANTS(valueOfSlot_.size(), changesUnchecked_);
}

ValueHashIndex::Placed ValueHashIndex::placeNear(uint32_t hash, uint32_t value) {
  const size_t mask = table_.size() - 1;
  size_t i = homeOf(hash);
  size_t same = 0;
  for (size_t n = 0; n < kProbeLimit; ++n, i = (i + 1) & mask) {
    if (table_[i].value == kNone) {
      table_[i] = Place{hash, value};
      return Placed::near;
    }
    if (table_[i].hash == hash && ++same == kSameHashLimit) return Placed::colliding;
  }
  return Placed::crowded;
}

void ValueHashIndex::overflow(uint32_t value, std::string_view stored) {
  overflowed_[value] = overflow_.emplace(std::string(stored), value).first;
}

uint32_t ValueHashIndex::newValue(uint32_t hash, uint32_t slot, std::string_view stored) {
  uint32_t v = 0;
  if (!freeValues_.empty()) {
    v = freeValues_.back();
    freeValues_.pop_back();
    values_[v] = Value{hash, slot, kNone};
  } else {
    v = static_cast<uint32_t>(values_.size());
    values_.push_back(Value{hash, slot, kNone});
  }
  ++distinct_;
  // At most 80% full, so probe runs stay short. A run too long to take the
  // value means a crowded table, which growing cures, or colliding hashes,
  // which it does not: then the value overflows.
  if (5 * distinct_ > 4 * table_.size()) growTable(table_.empty() ? 16 : 2 * table_.size());
  const Placed placed = placeNear(hash, v);
  if (placed == Placed::near) return v;
  if (placed == Placed::crowded && 2 * distinct_ > table_.size()) {
    growTable(2 * table_.size());
    if (placeNear(hash, v) == Placed::near) return v;
  }
  overflow(v, stored);
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
    lists_[list].slots = {std::min(value.rep, slot), std::max(value.rep, slot)};
    lists_[list].sorted = 2;
    value.list = list;
    return;
  }
  // Appended whatever the order; a slot that held the value before may now
  // stand twice, which counts as stale until the list is tidied.
  SlotList& list = lists_[value.list];
  if (list.sorted == list.slots.size() && (list.slots.empty() || list.slots.back() < slot)) ++list.sorted;
  list.slots.push_back(slot);
}

void ValueHashIndex::tidy(SlotList& list, uint32_t v) const {
  std::vector<uint32_t>& slots = list.slots;
  const auto middle = slots.begin() + static_cast<std::ptrdiff_t>(list.sorted);
  std::sort(middle, slots.end());
  std::inplace_merge(slots.begin(), middle, slots.end());
  const size_t before = slots.size();
  uint32_t last = kNone;
  std::erase_if(slots, [&](uint32_t s) {
    const bool drop = s == last || valueOfSlot_[s] != v;
    last = s;
    return drop;
  });
  staleEntries_ -= std::min(staleEntries_, before - slots.size());
  list.sorted = slots.size();
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
  SlotList& list = lists_[value.list];
  while (!list.slots.empty() && valueOfSlot_[list.slots.back()] != v) {
    list.slots.pop_back();
    staleEntries_ -= std::min<size_t>(staleEntries_, 1);
  }
  list.sorted = std::min(list.sorted, list.slots.size());
  if (list.slots.empty()) {
    eraseValue(v);
    return;
  }
  if (value.rep == slot) value.rep = list.slots.back();
}

void ValueHashIndex::eraseValue(uint32_t v) {
  const auto overflowed = overflowed_.find(v);
  if (overflowed != overflowed_.end()) {
    overflow_.erase(overflowed->second);
    overflowed_.erase(overflowed);
  } else {
    const size_t mask = table_.size() - 1;
    size_t gap = homeOf(values_[v].hash);
    // The value lies within the probe limit of its home.
    for (size_t n = 0; table_[gap].value != v && n <= kProbeLimit; ++n) gap = (gap + 1) & mask;
    // Backward shift: later places of the run move into the gap unless their
    // home lies (cyclically) between the gap and themselves.
    size_t j = (gap + 1) & mask;
    for (size_t n = 0; table_[j].value != kNone && n < table_.size(); ++n, j = (j + 1) & mask) {
      const size_t home = homeOf(table_[j].hash);
      const bool stays = gap <= j ? (gap < home && home <= j) : (gap < home || home <= j);
      if (stays) continue;
      table_[gap] = table_[j];
      gap = j;
    }
    table_[gap].value = kNone;
  }
  --distinct_;
  Value& value = values_[v];
  if (value.list != kNone) {
    staleEntries_ -= std::min(staleEntries_, lists_[value.list].slots.size());
    SlotList().slots.swap(lists_[value.list].slots);
    lists_[value.list].sorted = 0;
    freeLists_.push_back(value.list);
    value.list = kNone;
  }
  value.rep = kNone;
  freeValues_.push_back(v);
}

// Re-places the table's values; overflowed ones stay where they are, which
// lookups find all the same. Every value's rep holds it here, so the bytes
// of one that overflows now can be read.
void ValueHashIndex::growTable(size_t capacity) {
  std::vector<Place> old(capacity, Place{0, kNone});
  old.swap(table_);
  shift_ = 32 - std::countr_zero(capacity);
  for (const Place& p : old)
    if (p.value != kNone && placeNear(p.hash, p.value) != Placed::near) overflow(p.value, bytesOf(p.value));
}

void ValueHashIndex::beginLoading(size_t slots) {
  clear();
  valueOfSlot_.reserve(slots);
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
  built_ = true;
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
  // Slots come in hash order, so a value not recognised at loading is
  // looked for among those of its hash placed just before.
  for (const Loaded& e : loaded) {
    const std::string_view bytes = text_->valueOf(e.slot);
    uint32_t v = e.sameAs != e.slot ? valueOfSlot_[e.sameAs] : find(bytes);
    if (v == kNone) {
      v = newValue(e.hash, e.slot, bytes);
    } else {
      join(v, e.slot);
    }
    valueOfSlot_[e.slot] = v;
    ++liveSlots_;
  }
  checkInvariants();
}

void ValueHashIndex::renumberSlots(const std::vector<uint32_t>& renumbering, uint32_t liveSlots) {
  if (!built_) return;
  for (uint32_t v = 0; v < values_.size(); ++v) {
    Value& value = values_[v];
    if (value.rep == kNone || value.list == kNone) continue;
    SlotList& list = lists_[value.list];
    tidy(list, v);  // only slots that hold the value remain, and they are live
    for (uint32_t& slot : list.slots) slot = renumbering[slot];
  }
  for (Value& value : values_)
    if (value.rep != kNone) value.rep = renumbering[value.rep];
  std::vector<uint32_t> valueOfSlot(liveSlots, kNone);
  for (uint32_t slot = 0; slot < valueOfSlot_.size(); ++slot)
    if (renumbering[slot] != kNone) valueOfSlot[renumbering[slot]] = valueOfSlot_[slot];
  valueOfSlot_.swap(valueOfSlot);
  staleEntries_ = 0;
  checkInvariants();
}

// Drops stale entries and repeats once they outnumber the live slots; a list
// left with one slot goes back inline.
void ValueHashIndex::sweepIfMostlyStale() {
  if (staleEntries_ <= liveSlots_ + 4096) return;
  for (uint32_t v = 0; v < values_.size(); ++v) {
    Value& value = values_[v];
    if (value.rep == kNone || value.list == kNone) continue;
    SlotList& list = lists_[value.list];
    tidy(list, v);
    if (list.slots.size() == 1) {
      value.rep = list.slots.front();
      SlotList().slots.swap(list.slots);
      list.sorted = 0;
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
  std::vector<SlotList> lists;
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
  std::map<uint32_t, Overflow::iterator> overflowed;
  for (auto it = overflow_.begin(); it != overflow_.end(); ++it) {
    it->second = renumbered[it->second];
    overflowed.emplace(it->second, it);
  }
  overflowed_.swap(overflowed);
  values_.swap(values);
  lists_.swap(lists);
  std::vector<uint32_t>().swap(freeValues_);
  std::vector<uint32_t>().swap(freeLists_);
  size_t capacity = 16;
  while (5 * distinct_ > 4 * capacity) capacity *= 2;
  if (capacity < table_.size()) growTable(capacity);
}

// Each live value is held by its rep, found by its own bytes (so it is in
// the table or the overflow, once), and listed with every slot that holds
// it; the counts of slots and values agree with valueOfSlot.
void ValueHashIndex::checkInvariants() const {
#ifndef NDEBUG
  if (!built_) return;
  std::vector<uint32_t> holders(values_.size(), 0);
  size_t liveSlots = 0;
  for (const uint32_t v : valueOfSlot_) {
    if (v == kNone) continue;
    assert(v < values_.size() && values_[v].rep != kNone);
    ++holders[v];
    ++liveSlots;
  }
  assert(liveSlots == liveSlots_);
  std::vector<uint32_t> seen(valueOfSlot_.size(), kNone);  // per slot: the value whose list counted it
  size_t liveValues = 0;
  for (uint32_t v = 0; v < values_.size(); ++v) {
    const Value& value = values_[v];
    if (value.rep == kNone) {
      assert(holders[v] == 0 && value.list == kNone);
      continue;
    }
    ++liveValues;
    assert(value.rep < valueOfSlot_.size() && valueOfSlot_[value.rep] == v);
    assert(value.hash == hashOf(bytesOf(v)) && find(bytesOf(v)) == v);
    if (value.list == kNone) {
      assert(holders[v] == 1);
      continue;
    }
    const SlotList& list = lists_[value.list];
    assert(list.sorted <= list.slots.size());
    for (size_t i = 1; i < list.sorted; ++i) assert(list.slots[i - 1] < list.slots[i]);
    uint32_t listed = 0;
    for (const uint32_t s : list.slots) {
      assert(s < valueOfSlot_.size());
      if (valueOfSlot_[s] == v && seen[s] != v) {
        seen[s] = v;
        ++listed;
      }
    }
    assert(listed == holders[v]);
  }
  assert(liveValues == distinct_);
  size_t placed = 0;
  for (size_t i = 0; i < table_.size(); ++i) {
    const Place& p = table_[i];
    if (p.value == kNone) continue;
    ++placed;
    assert(p.value < values_.size() && values_[p.value].rep != kNone && values_[p.value].hash == p.hash);
    assert(((i - homeOf(p.hash)) & (table_.size() - 1)) < kProbeLimit);
  }
  assert(placed + overflow_.size() == distinct_ && overflowed_.size() == overflow_.size());
#endif
}

}  // namespace mero
