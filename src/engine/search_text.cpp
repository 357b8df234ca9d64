#include "engine/search_text.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/field_cipher.h"
#include "foundation/invariant_checks.h"

namespace mero {

// Substring search for short needles over long texts. Where SSE2 is there
// (every x86-64), 16 positions are tested at a time for the needle's first
// and last byte together, and only those that pass are compared in full.
const char* findBytes(const char* haystack, size_t haystackLength, std::string_view needle) {
  const size_t m = needle.size();
  if (m == 0) return haystack;
  if (m > haystackLength) return nullptr;
  if (m == 1) return static_cast<const char*>(std::memchr(haystack, needle[0], haystackLength));
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  for (; i + m - 1 + 16 <= haystackLength; i += 16) {
    const __m128i blockFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i));
    const __m128i blockLast = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i + m - 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, blockFirst), _mm_cmpeq_epi8(last, blockLast))));
    while (mask != 0) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      if (std::memcmp(haystack + i + bit + 1, needle.data() + 1, m - 2) == 0) return haystack + i + bit;
      mask &= mask - 1;
    }
  }
#endif
  for (; i + m <= haystackLength; ++i)
    if (haystack[i] == needle[0] && std::memcmp(haystack + i + 1, needle.data() + 1, m - 1) == 0) return haystack + i;
  return nullptr;
}

// The needle holds no zero byte, so the zero padding can match neither its
// first nor its last byte: blocks may run past the end without a tail loop.
const char* findBytesPadded(const char* haystack, size_t haystackLength, std::string_view needle) {
#if defined(__SSE2__)
  const size_t m = needle.size();
  if (m == 0) return haystack;
  if (m > haystackLength) return nullptr;
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  for (size_t i = 0; i + m <= haystackLength; i += 16) {
    const __m128i blockFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i));
    const __m128i blockLast = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i + m - 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, blockFirst), _mm_cmpeq_epi8(last, blockLast))));
    while (mask != 0) {
      const size_t at = i + static_cast<unsigned>(__builtin_ctz(mask));
      if (at + m <= haystackLength && std::memcmp(haystack + at + 1, needle.data() + 1, m - 1) == 0)
        return haystack + at;
      mask &= mask - 1;
    }
  }
  return nullptr;
#else
  return findBytes(haystack, haystackLength, needle);
#endif
}

void SearchText::place(uint32_t slot, std::string_view plain) {
  const auto start = static_cast<uint32_t>(text_.size());
  text_.append(plain);
  upperCase(text_.data() + start, plain.size());
  text_.push_back('\0');
  offsets_[slot] = start;
  lengths_[slot] = static_cast<uint32_t>(plain.size());
  if (!inSlotOrder_) runs_.push_back(Run{start, slot});
  liveBytes_ += plain.size() + 1;
}

// The values leave slot order: list where each one lies.
void SearchText::listRuns() {
  inSlotOrder_ = false;
  runs_.reserve(offsets_.size() + offsets_.size() / 4);
  for (uint32_t slot = 0; slot < offsets_.size(); ++slot)
    if (!isRemoved(slot)) runs_.push_back(Run{offsets_[slot], slot});
}

void SearchText::add(uint32_t slot, std::string_view plain) {
  assert(slot == offsets_.size());
  offsets_.push_back(0);
  lengths_.push_back(0);
  place(slot, plain);
  MERO_CHECK_INVARIANTS(offsets_.size(), changesUnchecked_);
}

void SearchText::replace(uint32_t slot, std::string_view plain) {
  assert(!isRemoved(slot));
  char* old = text_.data() + offsets_[slot];
  liveBytes_ -= size_t{lengths_[slot]} + 1;
  if (plain.size() <= lengths_[slot]) {
    std::memcpy(old, plain.data(), plain.size());
    upperCase(old, plain.size());
    std::memset(old + plain.size(), 0, lengths_[slot] - plain.size());
    lengths_[slot] = static_cast<uint32_t>(plain.size());
    liveBytes_ += plain.size() + 1;
  } else {
    std::memset(old, 0, lengths_[slot]);
    if (inSlotOrder_ && slot + 1 < offsets_.size()) listRuns();  // it goes after later slots' values
    place(slot, plain);
  }
  compactIfMostlyDead();
  MERO_CHECK_INVARIANTS(offsets_.size(), changesUnchecked_);
}

void SearchText::remove(uint32_t slot) {
  assert(!isRemoved(slot));
  std::memset(text_.data() + offsets_[slot], 0, lengths_[slot]);
  liveBytes_ -= size_t{lengths_[slot]} + 1;
  lengths_[slot] = kRemoved;
  compactIfMostlyDead();
  MERO_CHECK_INVARIANTS(offsets_.size(), changesUnchecked_);
}

// Rebuilds the text from the live values in slot order. The floor keeps a
// small text from being rebuilt over and over for a few dead bytes.
void SearchText::compactIfMostlyDead() {
  constexpr size_t kDeadFloor = 64 * 1024;
  const size_t dead = text_.size() - 1 - liveBytes_;
  if (dead <= liveBytes_ || dead <= kDeadFloor) return;
  rebuild(nullptr, static_cast<uint32_t>(offsets_.size()));
}

void SearchText::renumberSlots(const std::vector<uint32_t>& renumbering, uint32_t liveSlots) {
  rebuild(&renumbering, liveSlots);
}

// Slot s becomes renumbering[s] (or stays s without one); the numbers
// ascend, so the values stay in slot order.
void SearchText::rebuild(const std::vector<uint32_t>* renumbering, uint32_t slots) {
  std::string text;
  text.reserve(1 + liveBytes_);
  text.push_back('\0');
  std::vector<uint32_t> offsets(slots, 0);
  std::vector<uint32_t> lengths(slots, 0);
  for (uint32_t slot = 0; slot < offsets_.size(); ++slot) {
    const uint32_t to = renumbering != nullptr ? (*renumbering)[slot] : slot;
    if (to == kNoSlot) continue;
    const auto start = static_cast<uint32_t>(text.size());
    offsets[to] = start;  // a removed slot's keeps offsets ascending with the slot
    lengths[to] = lengths_[slot];
    if (isRemoved(slot)) continue;
    text.append(text_, offsets_[slot], lengths_[slot]);
    text.push_back('\0');
  }
  text_.swap(text);
  offsets_.swap(offsets);
  lengths_.swap(lengths);
  std::vector<Run>().swap(runs_);
  inSlotOrder_ = true;
  checkInvariants();
}

void SearchText::checkInvariants() const {
#ifndef NDEBUG
  size_t live = 0;
  for (uint32_t slot = 0; slot < offsets_.size(); ++slot) {
    if (inSlotOrder_ && slot > 0) assert(offsets_[slot - 1] <= offsets_[slot]);
    if (isRemoved(slot)) continue;
    assert(offsets_[slot] >= 1 && text_[offsets_[slot] - 1] == '\0');
    assert(size_t{offsets_[slot]} + lengths_[slot] < text_.size());
    live += size_t{lengths_[slot]} + 1;
  }
  assert(live == liveBytes_);
  for (size_t i = 1; i < runs_.size(); ++i) assert(runs_[i - 1].start < runs_[i].start);
#endif
}

bool SearchText::liveValueAt(size_t at, size_t length, uint32_t& slot) const {
  if (inSlotOrder_) {
    const auto after = std::upper_bound(offsets_.begin(), offsets_.end(), at);
    if (after == offsets_.begin()) return false;  // before the first value: the leading zero
    slot = static_cast<uint32_t>(after - offsets_.begin() - 1);
    return !isRemoved(slot) && at + length <= size_t{offsets_[slot]} + lengths_[slot];
  }
  const auto after = std::upper_bound(runs_.begin(), runs_.end(), at,
                                      [](size_t offset, const Run& run) { return offset < run.start; });
  if (after == runs_.begin()) return false;  // before the first value: the leading zero
  const Run& run = *(after - 1);
  // A run whose slot was removed, or placed again elsewhere since, is dead text.
  if (isRemoved(run.slot) || offsets_[run.slot] != run.start) return false;
  slot = run.slot;
  return at + length <= size_t{run.start} + lengths_[run.slot];
}

}  // namespace mero
