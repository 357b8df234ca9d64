#include "engine/key_index.h"

#include <bit>

#include "engine/byte_hash.h"

namespace mero {

uint32_t KeyIndex::hashOf(std::string_view key) {
  const uint64_t h = hashBytes(key);
  return static_cast<uint32_t>(h ^ (h >> 32));
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
}

bool KeyIndex::placeUnlessPresent(const Entry& entry) {
  size_t i = entry.hash & mask_;
  for (; table_[i].position >= 0; i = (i + 1) & mask_)
    if (table_[i].hash == entry.hash && keyOf(table_[i]) == keyOf(entry)) return false;
  table_[i] = entry;
  ++count_;
  return true;
}

void KeyIndex::clear() {
  table_.clear();
  mask_ = 0;
  count_ = 0;
  keys_.clear();
  deadKeyBytes_ = 0;
  pending_.clear();
  loading_ = false;
}

void KeyIndex::reserve(size_t keys) {
  size_t capacity = 16;
  while (5 * keys > 4 * capacity) capacity *= 2;
  if (capacity > table_.size()) grow(capacity);
}

void KeyIndex::grow(size_t capacity) {
  std::vector<Entry> old(capacity, Entry{0, -1, 0});
  old.swap(table_);
  mask_ = capacity - 1;
  for (const Entry& e : old)
    if (e.position >= 0) place(e);
}

// Puts an entry into the first empty place from its home; the key is known
// to be absent.
void KeyIndex::place(const Entry& entry) {
  size_t i = entry.hash & mask_;
  while (table_[i].position >= 0) i = (i + 1) & mask_;
  table_[i] = entry;
}

void KeyIndex::insertAt(const Probe& probe, std::string_view key, int32_t position) {
  if (probe.found) return;
  if (5 * (count_ + 1) > 4 * table_.size()) grow(table_.empty() ? 16 : 2 * table_.size());
  // Offsets are 32-bit; live keys never come near that (they are first
  // fields of a data file below 2 GiB), so dropping the dead ones makes room.
  if (keys_.size() + 4 + key.size() > UINT32_MAX) compactKeys();
  const Entry entry{probe.hash, position, appendKey(key)};
  size_t i = probe.hash & mask_;
  while (table_[i].position >= 0) i = (i + 1) & mask_;
  table_[i] = entry;
  ++count_;
}

void KeyIndex::removeKey(std::string_view key, int32_t position) {
  if (table_.empty()) return;
  const uint32_t hash = hashOf(key);
  size_t i = hash & mask_;
  for (;; i = (i + 1) & mask_) {
    const Entry& e = table_[i];
    if (e.position < 0) return;
    if (e.hash == hash && keyOf(e) == key) break;
  }
  if (table_[i].position != position) return;
  deadKeyBytes_ += 4 + lengthAt(table_[i].keyOffset);
  --count_;
  // Backward shift: later entries of the same run move into the gap when
  // their home does not lie (cyclically) between the gap and themselves.
  size_t gap = i;
  for (size_t j = (gap + 1) & mask_; table_[j].position >= 0; j = (j + 1) & mask_) {
    const size_t want = table_[j].hash & mask_;
    const bool stays = gap <= j ? (gap < want && want <= j) : (gap < want || want <= j);
    if (stays) continue;
    table_[gap] = table_[j];
    gap = j;
  }
  table_[gap].position = -1;
  compactKeysIfMostlyDead();
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

}  // namespace mero
