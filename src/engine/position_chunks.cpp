#include "engine/position_chunks.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace mero {

void PositionChunks::clear() {
  chunks_.clear();
  counts_.clear();
  firsts_.clear();
  size_ = 0;
}

size_t PositionChunks::chunkOf(size_t r) const {
  // The last chunk whose first record is at or before r.
  return static_cast<size_t>(std::upper_bound(firsts_.begin(), firsts_.end(), static_cast<uint32_t>(r)) -
                             firsts_.begin()) -
         1;
}

int32_t PositionChunks::at(size_t r) const {
  const size_t c = chunkOf(r);
  return chunks_[c][r - firsts_[c]];
}

void PositionChunks::set(size_t r, int32_t position) {
  const size_t c = chunkOf(r);
  chunks_[c][r - firsts_[c]] = position;
}

void PositionChunks::push_back(int32_t position) {
  if (chunks_.empty() || counts_.back() == kChunkEntries) {
    chunks_.push_back(std::make_unique_for_overwrite<int32_t[]>(kChunkEntries));
    counts_.push_back(0);
    firsts_.push_back(static_cast<uint32_t>(size_));
  }
  chunks_.back()[counts_.back()++] = position;
  ++size_;
}

void PositionChunks::erase(size_t r) {
  const size_t c = chunkOf(r);
  int32_t* entries = chunks_[c].get();
  const size_t at = r - firsts_[c];
  std::memmove(entries + at, entries + at + 1, 4 * (counts_[c] - at - 1));
  --counts_[c];
  --size_;
  for (size_t later = c + 1; later < firsts_.size(); ++later) --firsts_[later];
  mergeSmallNeighbours(c);
}

// Chunk c just shrank; only its two pairs of neighbours can have fallen to
// kChunkEntries or fewer together. Joining c with the next one first leaves
// c's pair with the chunk after that above the bound, so one join with the
// previous one after it restores the bound everywhere.
void PositionChunks::mergeSmallNeighbours(size_t c) {
  if (c + 1 < chunks_.size() && counts_[c] + counts_[c + 1] <= kChunkEntries) mergeInto(c);
  if (c > 0 && counts_[c - 1] + counts_[c] <= kChunkEntries) mergeInto(c - 1);
  if (chunks_.size() == 1 && counts_[0] == 0) clear();  // the last record went
}

void PositionChunks::mergeInto(size_t c) {
  std::memcpy(chunks_[c].get() + counts_[c], chunks_[c + 1].get(), 4 * counts_[c + 1]);
  counts_[c] += counts_[c + 1];
  chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(c + 1));
  counts_.erase(counts_.begin() + static_cast<std::ptrdiff_t>(c + 1));
  firsts_.erase(firsts_.begin() + static_cast<std::ptrdiff_t>(c + 1));
}

void PositionChunks::runsFrom(size_t from, std::vector<Run>& out) const {
  out.clear();
  if (from >= size_) return;
  size_t c = chunkOf(from);
  const size_t at = from - firsts_[c];
  out.push_back(Run{chunks_[c].get() + at, counts_[c] - at});
  for (++c; c < chunks_.size(); ++c) out.push_back(Run{chunks_[c].get(), counts_[c]});
}

std::vector<int32_t> PositionChunks::toVector() const {
  std::vector<int32_t> all;
  all.reserve(size_);
  for (size_t c = 0; c < chunks_.size(); ++c) all.insert(all.end(), chunks_[c].get(), chunks_[c].get() + counts_[c]);
  return all;
}

void PositionChunks::checkInvariants() const {
#ifndef NDEBUG
  assert(counts_.size() == chunks_.size() && firsts_.size() == chunks_.size());
  size_t before = 0;
  for (size_t c = 0; c < chunks_.size(); ++c) {
    assert(firsts_[c] == before);
    assert(counts_[c] <= kChunkEntries);
    assert(counts_[c] > 0);
    assert(c == 0 || counts_[c - 1] + counts_[c] > kChunkEntries);
    before += counts_[c];
  }
  assert(before == size_);
#endif
}

}  // namespace mero
