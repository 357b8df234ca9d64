#include "engine/read_cache.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"

namespace mero {

ReadCache::ReadCache() : ways_(new Way[kBlocks]) {}
ReadCache::~ReadCache() = default;

ReadCache::Way* ReadCache::find(int64_t block) {
  Way* ways = set(block);
  for (size_t w = 0; w < kWays; ++w)
    if (ways[w].block == block) return &ways[w];
  return nullptr;
}

// Reads the whole block (less at the end of the file) into `way` (the
// block's own, read short before), else the set's empty way or the one used
// longest ago. A block is never held twice: a second copy would outlive
// forget().
ReadCache::Way& ReadCache::load(const File& file, int64_t block, Way* way, bool& failed) {
  Way* ways = set(block);
  Way* victim = way != nullptr ? way : &ways[0];
  for (size_t w = 0; w < kWays && victim->block >= 0 && way == nullptr; ++w)
    if (ways[w].block < 0 || clock_ - ways[w].lastUse > clock_ - victim->lastUse) victim = &ways[w];
  if (!victim->bytes) {
    victim->bytes.reset(new char[kBlockBytes]);
    ++heldBlocks_;
  }
  victim->block = -1;  // empty until the read succeeds
  const int64_t got = file.readAt(block * static_cast<int64_t>(kBlockBytes), victim->bytes.get(), kBlockBytes);
  failed = got < 0;
  if (!failed) {
    victim->block = block;
    victim->valid = static_cast<uint32_t>(got);
  }
  return *victim;
}

int64_t ReadCache::readAt(const File& file, int64_t offset, void* buffer, size_t n) {
  if (n > kLongestCachedRead || offset < 0) return file.readAt(offset, buffer, n);
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const int64_t at = offset + static_cast<int64_t>(done);
    const int64_t block = at / static_cast<int64_t>(kBlockBytes);
    const auto inBlock = static_cast<size_t>(at % static_cast<int64_t>(kBlockBytes));
    const size_t want = std::min(n - done, kBlockBytes - inBlock);
    Way* way = find(block);
    // A block read at the end of the file holds less than a whole block;
    // bytes appended since are read afresh.
    if (way == nullptr || way->valid < inBlock + want) {
      bool failed = false;
      way = &load(file, block, way, failed);
      if (failed) return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    way->lastUse = ++clock_;
    const size_t got = std::min(want, way->valid > inBlock ? way->valid - inBlock : 0);
    std::memcpy(out + done, way->bytes.get() + inBlock, got);
    done += got;
    if (got < want) break;  // the end of the file
  }
  return static_cast<int64_t>(done);
}

void ReadCache::forget(int64_t offset, size_t n) {
  if (n == 0 || offset < 0) return;
  const int64_t first = offset / static_cast<int64_t>(kBlockBytes);
  const int64_t last = (offset + static_cast<int64_t>(n) - 1) / static_cast<int64_t>(kBlockBytes);
  if (last - first >= static_cast<int64_t>(kBlocks)) return forgetFrom(offset);
  for (int64_t block = first; block <= last; ++block)
    if (Way* way = find(block)) way->block = -1;
}

void ReadCache::forgetFrom(int64_t offset) {
  const int64_t first = std::max<int64_t>(offset, 0) / static_cast<int64_t>(kBlockBytes);
  for (size_t w = 0; w < kBlocks; ++w)
    if (ways_[w].block >= first) ways_[w].block = -1;
}

void ReadCache::clear() { forgetFrom(0); }

}  // namespace mero
