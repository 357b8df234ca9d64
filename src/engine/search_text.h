#pragma once
// SearchText: the plain, upper-cased values of one indexed field, each
// preceded by a zero byte, in one array that a substring search can scan in
// a single pass. Modified UTF-8 never contains a zero byte, so no match can
// span two values, and bytes that no value owns any more (left behind by a
// replace or a delete) are zeroed so they can never match either.
//
// It is the in-memory copy of an indexed field that every search in memory
// reads (the value hash finds its values' bytes here too), rebuilt at every
// open; substring searches scan it without deciphering anything.
//
// Invariant: for a live slot s, text[offsets[s] .. + lengths[s]) is the
// upper-cased value and text[offsets[s] - 1] is zero; every other nonzero
// byte belongs to some live slot's value. A removed slot's length is
// kRemoved and its offset stays where its value was. liveBytes is the sum of
// lengths[s] + 1 over live slots.
//
// Finding the slot of a hit: while values lie in slot order (`inSlotOrder`:
// only adds and compactions placed them, as at open), offsets ascend with
// the slot and are searched directly. The first replace that moves a value
// to the end breaks that order; from then on `runs` lists, in ascending
// order of start, where each placed value began and for which slot, until a
// compaction puts the values back in slot order.
//
// Replaced and removed values leave dead bytes behind. Once they outnumber
// the live ones the text is rebuilt from the live values alone, so memory
// stays within a small factor of the live values at an amortised cost.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mero {

class SearchText {
 public:
  static constexpr uint32_t kNoSlot = UINT32_MAX;
  SearchText() : text_(1, '\0') {}

  void reserve(size_t slots) {
    offsets_.reserve(slots);
    lengths_.reserve(slots);
  }
  void add(uint32_t slot, std::string_view plain);  // slot must be the next slot
  // After a bulk of adds (the rebuild at open): gives back the room that
  // growing left over.
  void fitToSize() { text_.shrink_to_fit(); }
  void replace(uint32_t slot, std::string_view plain);
  void remove(uint32_t slot);
  // Takes the slots' new numbers (kNoSlot: removed, gone), rebuilding the
  // text from the live values in their new order.
  void renumberSlots(const std::vector<uint32_t>& renumbering, uint32_t liveSlots);

  // Calls found(slot) for each slot whose value contains upperNeedle
  // (non-empty), at most once per placed value, in text order.
  template <typename Found>
  void forEachContaining(std::string_view upperNeedle, Found found) const;

  // The upper-cased value of a live slot.
  std::string_view valueOf(uint32_t slot) const { return {text_.data() + offsets_[slot], lengths_[slot]}; }
  size_t textBytes() const { return text_.size(); }
  size_t liveBytes() const { return liveBytes_; }
  // Offsets are 32-bit: whether values of this many bytes still fit.
  bool canHold(uint64_t valueBytes) const { return text_.size() + valueBytes + 1 < (uint64_t{1} << 32); }

 private:
  struct Run {
    uint32_t start;
    uint32_t slot;
  };
  static constexpr uint32_t kRemoved = UINT32_MAX;
  void place(uint32_t slot, std::string_view plain);
  void compactIfMostlyDead();
  void rebuild(const std::vector<uint32_t>* renumbering, uint32_t slots);
  void checkInvariants() const;
  bool isRemoved(uint32_t slot) const { return lengths_[slot] == kRemoved; }
  void listRuns();
  // Whether [at, at + length) lies inside the current value of a live slot,
  // and which.
  bool liveValueAt(size_t at, size_t length, uint32_t& slot) const;

  std::string text_;
  std::vector<uint32_t> offsets_;  // by slot
  std::vector<uint32_t> lengths_;  // by slot
  std::vector<Run> runs_;          // empty while inSlotOrder_
  bool inSlotOrder_ = true;
  size_t liveBytes_ = 0;
  [[maybe_unused]] uint32_t changesUnchecked_ = 0;  // debug builds: changes since the last full check
};

const char* findBytes(const char* haystack, size_t haystackLength, std::string_view needle);
// The same, for a haystack followed by at least kSearchPadding zero bytes,
// which lets short haystacks be searched 16 bytes at a time as well.
constexpr size_t kSearchPadding = 16;
const char* findBytesPadded(const char* haystack, size_t haystackLength, std::string_view needle);

template <typename Found>
void SearchText::forEachContaining(std::string_view upperNeedle, Found found) const {
  const char* const begin = text_.data();
  const size_t size = text_.size();
  size_t from = 0;
  // Every turn moves `from` strictly forward, whatever the needle holds: a
  // needle with a zero byte (never from Java, but a stored value read with a
  // wrong key can hold one) can match across two values or in dead bytes,
  // and such a hit is passed over rather than followed back to its value.
  while (from < size) {
    const char* hit = findBytes(begin + from, size - from, upperNeedle);
    if (hit == nullptr) return;
    const auto at = static_cast<size_t>(hit - begin);
    size_t next = at + 1;
    uint32_t slot = 0;
    if (liveValueAt(at, upperNeedle.size(), slot)) {
      found(slot);
      next = std::max(next, size_t{offsets_[slot]} + lengths_[slot]);  // on to the next value
    }
    from = next;
  }
}

}  // namespace mero
