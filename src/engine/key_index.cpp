#include "engine/key_index.h"

#include <bit>
#include <cassert>

#include "engine/byte_hash.h"
#include "foundation/invariant_checks.h"

namespace mero {

uint32_t KeyIndex::hashOf(std::string_view key) { return hashBytes32(key); }

bool KeyIndex::lookupHashed(uint32_t hash, std::string_view key, int32_t& position) const {
  if (count_ == 0) return false;
  size_t i = hash & mask_;
  size_t same = 0;
  for (size_t n = 0; n < kProbeLimit; ++n, i = (i + 1) & mask_) {
    const Entry& e = table_[i];
    if (e.position < 0) break;
    if (e.hash != hash) continue;
    if (keyOf(e) == key) {
      position = e.position;
      return true;
    }
    if (++same == kSameHashLimit) break;
  }
  if (overflow_.empty()) return false;
  const auto it = overflow_.find(key);
  if (it == overflow_.end()) return false;
  position = it->second;
  return true;
}

void KeyIndex::beginLoading(size_t keys) {
  loading_ = true;
  pending_.reserve(keys);
}

void KeyIndex::finishLoading() {
  loading_ = false;
  std::vector<Entry> pending;
  pending.swap(pending_);
  reserve(count_ + pending.size());
  // A stable radix sort by home place, 11 bits a pass: equal keys keep
  // their loading order, so the first one loaded is placed first.
  std::vector<Entry> sorted(pending.size());
  const int bits = std::countr_zero(table_.size());
  for (int shift = 0; shift < bits; shift += 11) {
    std::vector<size_t> starts(2049, 0);
    for (const Entry& e : pending) ++starts[((e.hash & mask_) >> shift & 2047) + 1];
    for (size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
    for (const Entry& e : pending) sorted[starts[(e.hash & mask_) >> shift & 2047]++] = e;
    pending.swap(sorted);
  }
  for (const Entry& e : pending)
    if (!placeUnlessPresent(e)) deadKeyBytes_ += 4 + lengthAt(e.keyOffset);
  compactKeysIfMostlyDead();
  keys_.shrink_to_fit();
  checkInvariants();
}

// Nothing is removed while loading, so an equal key, having the same home,
// lies in the run from that home; and a key that meets a free place within
// the limits has no equal in the overflow, which only takes keys that met a
// limit on the same run.
bool KeyIndex::placeUnlessPresent(const Entry& entry) {
  size_t i = entry.hash & mask_;
  size_t same = 0;
  for (size_t n = 0; n < kProbeLimit; ++n, i = (i + 1) & mask_) {
    if (table_[i].position < 0) {
      table_[i] = entry;
      ++count_;
      return true;
    }
    if (table_[i].hash != entry.hash) continue;
    if (keyOf(table_[i]) == keyOf(entry)) return false;
    if (++same == kSameHashLimit) break;
  }
  if (overflow_.count(keyOf(entry)) != 0) return false;
  overflow(entry);
  ++count_;
  return true;
}

void KeyIndex::clear() {
  table_.clear();
  mask_ = 0;
  count_ = 0;
  keys_.clear();
  deadKeyBytes_ = 0;
  overflow_.clear();
  pending_.clear();
  loading_ = false;
}

void KeyIndex::reserve(size_t keys) {
  size_t capacity = 16;
  while (5 * keys > 4 * capacity) capacity *= 2;
  if (capacity > table_.size()) resize(capacity);
}

// Re-places the table's entries; overflowed ones stay where they are, which
// lookups find all the same.
void KeyIndex::resize(size_t capacity) {
  std::vector<Entry> old(capacity, Entry{0, -1, 0});
  old.swap(table_);
  mask_ = capacity - 1;
  for (const Entry& e : old)
    if (e.position >= 0 && placeNear(e) != Placed::near) overflow(e);
}

KeyIndex::Placed KeyIndex::placeNear(const Entry& entry) {
  size_t i = entry.hash & mask_;
  size_t same = 0;
  for (size_t n = 0; n < kProbeLimit; ++n, i = (i + 1) & mask_) {
    if (table_[i].position < 0) {
      table_[i] = entry;
      return Placed::near;
    }
    if (table_[i].hash == entry.hash && ++same == kSameHashLimit) return Placed::colliding;
  }
  return Placed::crowded;
}

// The map holds its own copy of the key.
void KeyIndex::overflow(const Entry& entry) {
  overflow_.emplace(std::string(keyOf(entry)), entry.position);
  deadKeyBytes_ += 4 + lengthAt(entry.keyOffset);
}

// A run too long to take the entry means either a crowded table, which
// growing cures, or colliding hashes, which it does not: then the entry
// overflows, and the table keeps its size.
void KeyIndex::placeOrOverflow(const Entry& entry) {
  const Placed placed = placeNear(entry);
  if (placed == Placed::near) return;
  if (placed == Placed::crowded && 2 * count_ > table_.size()) {
    resize(2 * table_.size());
    if (placeNear(entry) == Placed::near) return;
  }
  overflow(entry);
}

void KeyIndex::insertAt(const Probe& probe, std::string_view key, int32_t position) {
  if (probe.found) return;
  if (5 * (count_ + 1) > 4 * table_.size()) resize(table_.empty() ? 16 : 2 * table_.size());
  // Offsets are 32-bit; live keys never come near that (they are first
  // fields of a data file below 2 GiB), so dropping the dead ones makes room.
  if (keys_.size() + 4 + key.size() > UINT32_MAX) compactKeys();
  ++count_;
  placeOrOverflow(Entry{probe.hash, position, appendKey(key)});
  MERO_CHECK_INVARIANTS(count_, changesUnchecked_);
}

void KeyIndex::removeKey(std::string_view key, int32_t position) {
  if (count_ == 0) return;
  const uint32_t hash = hashOf(key);
  size_t i = hash & mask_;
  bool inTable = false;
  size_t same = 0;
  for (size_t n = 0; n < kProbeLimit; ++n, i = (i + 1) & mask_) {
    const Entry& e = table_[i];
    if (e.position < 0) break;
    if (e.hash != hash) continue;
    if (keyOf(e) == key) {
      inTable = true;
      break;
    }
    if (++same == kSameHashLimit) break;
  }
  if (!inTable) {
    const auto it = overflow_.find(key);
    if (it == overflow_.end() || it->second != position) return;
    overflow_.erase(it);
    --count_;
    MERO_CHECK_INVARIANTS(count_, changesUnchecked_);
    return;
  }
  if (table_[i].position != position) return;
  deadKeyBytes_ += 4 + lengthAt(table_[i].keyOffset);
  --count_;
  // Backward shift: later entries of the same run move into the gap when
  // their home does not lie (cyclically) between the gap and themselves.
  // An entry only ever moves nearer its home, so it stays within the limit.
  size_t gap = i;
  // (The table is never full, so a run always ends; the count only keeps a
  // damaged table from looping.)
  size_t j = (gap + 1) & mask_;
  for (size_t n = 0; table_[j].position >= 0 && n < table_.size(); ++n, j = (j + 1) & mask_) {
    const size_t want = table_[j].hash & mask_;
    const bool stays = gap <= j ? (gap < want && want <= j) : (gap < want || want <= j);
    if (stays) continue;
    table_[gap] = table_[j];
    gap = j;
  }
  table_[gap].position = -1;
  // A table left mostly empty by deletes shrinks, so memory follows the
  // live keys; growing waits for 80%, so the two never alternate.
  if (table_.size() > 1024 && 8 * count_ < table_.size()) resize(table_.size() / 2);
  compactKeysIfMostlyDead();
  MERO_CHECK_INVARIANTS(count_, changesUnchecked_);
}

// The floor keeps a small index from being rebuilt for a few removed keys.
void KeyIndex::compactKeysIfMostlyDead() {
  const size_t live = keys_.size() - deadKeyBytes_;
  if (deadKeyBytes_ > live && deadKeyBytes_ > 64 * 1024) compactKeys();
}

void KeyIndex::compactKeys() {
  const size_t live = keys_.size() - deadKeyBytes_;
  std::string compacted;
  compacted.reserve(live + live / 4);
  for (Entry& e : table_) {
    if (e.position < 0) continue;
    const std::string_view k = keyOf(e);
    const auto n = static_cast<uint32_t>(k.size());
    e.keyOffset = static_cast<uint32_t>(compacted.size());
    compacted.append(reinterpret_cast<const char*>(&n), 4);
    compacted.append(k);
  }
  keys_.swap(compacted);
  deadKeyBytes_ = 0;
}

// Every entry lies within the probe limit of its home and its lookup finds
// it (so no key stands twice and none is out of reach); the counts of
// entries and of live key bytes agree with the table and the overflow.
void KeyIndex::checkInvariants() const {
#ifndef NDEBUG
  if (loading_) return;
  assert(table_.empty() ? mask_ == 0 : mask_ == table_.size() - 1 && (table_.size() & mask_) == 0);
  size_t placed = 0;
  size_t liveKeyBytes = 0;
  for (size_t i = 0; i < table_.size(); ++i) {
    const Entry& e = table_[i];
    if (e.position < 0) continue;
    ++placed;
    assert(size_t{e.keyOffset} + 4 <= keys_.size() && size_t{e.keyOffset} + 4 + lengthAt(e.keyOffset) <= keys_.size());
    const std::string_view key = keyOf(e);
    assert(e.hash == hashOf(key));
    assert(((i - (e.hash & mask_)) & mask_) < kProbeLimit);
    int32_t found = -1;
    assert(lookupHashed(e.hash, key, found) && found == e.position);
    liveKeyBytes += 4 + key.size();
  }
  for (const auto& [key, position] : overflow_) {
    int32_t found = -1;
    assert(position >= 0 && lookupKey(key, found) && found == position);
  }
  assert(count_ == placed + overflow_.size());
  assert(table_.empty() || 5 * count_ <= 4 * table_.size());
  assert(deadKeyBytes_ <= keys_.size() && keys_.size() - deadKeyBytes_ == liveKeyBytes);
#endif
}

}  // namespace mero
