#pragma once
// ValueHashIndex: for one indexed field, the slots that hold each distinct
// value, found by a hash of the value upper-cased (exactly as the field's
// search text holds it). It answers whole-value
// terms without visiting every record and without comparing any record's
// bytes: one lookup names the value, and its slots come out in ascending
// order, which is record order.
//
// Each distinct value has a number. valueOfSlot[s] is the number of slot s's
// current value (kNone once deleted); it is the truth, and a list is only a
// superset of it: a slot that left a value may stay in the value's list
// (stale) until the lists are swept, and every visit checks valueOfSlot. A
// value held by one slot only keeps that slot inline and has no list.
//
// Invariants: a value is in the table (or its overflow) exactly while some
// live slot holds it; its `rep` is such a slot, and the value's bytes are
// read through it from the search text. A listed value's list holds every
// slot that holds the value; its first `sorted` entries ascend strictly, and
// the entries after them came in any order (joins are appended whatever the
// order, so no join ever costs more than a push). A visit first sorts the
// tail in and drops stale entries and repeats, which costs no more than the
// visit itself. Stale entries and repeats are counted and swept once they
// outnumber the live slots; numbers of dead values are reused, and
// renumbered away once they outnumber the live values.
//
// Bounded probes: a value's place lies at most kProbeLimit places past its
// home, with fewer than kSameHashLimit places of its very hash before it; a
// value that finds no such place (colliding hashes) goes to an ordered
// overflow map, so that colliding values cost a few comparisons and a
// logarithm each. Places of one hash keep their order through removals.
//
// Built on demand: an open does not pay for an index that no search may
// use. Until build() the index holds nothing and ignores changes (the
// search text, from which build() reads every value, has them all); after
// it, every change is followed.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace mero {

class SearchText;

class ValueHashIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr size_t kProbeLimit = 64;
  static constexpr size_t kSameHashLimit = 8;

  // The search text that holds the values' bytes; set once.
  void attach(const SearchText* text) { text_ = text; }
  // Back to unbuilt, holding nothing.
  void clear();
  bool built() const { return built_; }
  // Indexes the values of slots [0, slots) that isLive(slot) names, as the
  // search text holds them; an unbuilt index only. Slots are taken in order
  // and sorted into values all at once, by hash, so the table is filled
  // front to back rather than at random.
  template <typename IsLive>
  void build(uint32_t slots, IsLive isLive) {
    beginLoading(slots);
    for (uint32_t slot = 0; slot < slots; ++slot) {
      if (isLive(slot)) {
        load(slot, textOf(slot));
      } else {
        valueOfSlot_.push_back(kNone);
      }
    }
    finishLoading();
  }

  // Changes, followed once built. The search text already holds them.
  void reserve(size_t slots);
  // Slot now holds the value `stored` (upper-cased). A new slot must be the
  // next one.
  void add(uint32_t slot, std::string_view stored);
  // Slot was deleted.
  void remove(uint32_t slot);
  // Takes the slots' new numbers (kNone: deleted, gone; ascending).
  void renumberSlots(const std::vector<uint32_t>& renumbering, uint32_t liveSlots);

  // Calls visit(slot) for every slot holding the value, in ascending order;
  // the index must be built. It may put the value's list in order first: the caller holds the
  // database's lock, which no reader shares.
  template <typename Visit>
  void forEachSlot(std::string_view stored, Visit visit) const {
    const uint32_t v = find(stored);
    if (v == kNone) return;
    const Value& value = values_[v];
    if (value.list == kNone) {
      visit(value.rep);
      return;
    }
    SlotList& list = lists_[value.list];
    if (list.sorted < list.slots.size()) tidy(list, v);
    for (const uint32_t slot : list.slots)
      if (valueOfSlot_[slot] == v) visit(slot);
  }

  // Whether slot holds the value (for checks of a built index).
  bool leadsTo(std::string_view stored, uint32_t slot) const {
    const uint32_t v = find(stored);
    return v != kNone && slot < valueOfSlot_.size() && valueOfSlot_[slot] == v;
  }

  size_t distinctValues() const { return distinct_; }
  // Asserts the invariants above (debug builds; after each change there).
  // The search text must hold what this index was told of it.
  void checkInvariants() const;
  // The hash the table keeps of a value (for tests that need values sharing one).
  static uint32_t hashOf(std::string_view stored);

 private:
  struct Value {
    uint32_t hash;
    uint32_t rep;   // a slot holding the value
    uint32_t list;  // index in lists_, or kNone: rep is the only holder
  };
  struct Place {
    uint32_t hash;
    uint32_t value;  // kNone: empty
  };
  struct SlotList {
    std::vector<uint32_t> slots;
    size_t sorted = 0;  // slots[0, sorted) ascend strictly
  };
  using Overflow = std::map<std::string, uint32_t, std::less<>>;
  struct Loaded {
    uint32_t hash;
    uint32_t slot;
    uint32_t sameAs;  // an earlier slot known to hold the same bytes, or slot itself
  };
  // A value's home place is given by the high bits of its hash, so that
  // values taken in hash order fill the table front to back.
  size_t homeOf(uint32_t hash) const { return hash >> shift_; }
  std::string_view textOf(uint32_t slot) const;
  void beginLoading(size_t slots);
  void load(uint32_t slot, std::string_view stored);
  void finishLoading();
  uint32_t find(std::string_view stored) const;
  std::string_view bytesOf(uint32_t value) const;
  uint32_t newValue(uint32_t hash, uint32_t slot, std::string_view stored);
  enum class Placed { near, crowded, colliding };
  Placed placeNear(uint32_t hash, uint32_t value);
  void overflow(uint32_t value, std::string_view stored);
  // Sorts the list's tail in and drops its stale entries and repeats.
  void tidy(SlotList& list, uint32_t v) const;
  void join(uint32_t v, uint32_t slot);
  void leave(uint32_t slot);
  void eraseValue(uint32_t v);
  void growTable(size_t capacity);
  void sweepIfMostlyStale();
  void renumberIfMostlyFree();

  const SearchText* text_ = nullptr;
  std::vector<uint32_t> valueOfSlot_;
  std::vector<Value> values_;
  std::vector<uint32_t> freeValues_;
  mutable std::vector<SlotList> lists_;
  std::vector<uint32_t> freeLists_;
  std::vector<Place> table_;                           // open addressing, linear probing; a power of two in size
  Overflow overflow_;                                  // bytes -> value, for values with no place
  std::map<uint32_t, Overflow::iterator> overflowed_;  // value -> its overflow entry
  int shift_ = 32;                                     // 32 - log2(table size)
  size_t distinct_ = 0;
  size_t liveSlots_ = 0;
  mutable size_t staleEntries_ = 0;  // list entries beyond the live slots they stand for
  bool built_ = false;
  std::vector<Loaded> loaded_;                      // while building
  std::vector<Place> recent_;                       // while building: the last value seen per hash bucket
  [[maybe_unused]] uint32_t changesUnchecked_ = 0;  // debug builds: changes since the last full check
};

}  // namespace mero
