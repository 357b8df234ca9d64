#include "engine/index_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "foundation/int32_codec.h"
#include "platform/file.h"

namespace mero {

namespace {
// Entries go to the file in their 4-byte little-endian form. On a
// little-endian machine that is their form in memory, so they are written
// straight from it.
bool writeEntries(File& file, int64_t offset, const int32_t* positions, size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    return file.writeAt(offset, positions, 4 * n);
  } else {
    const std::string bytes = encodeEntries(positions, n);
    return file.writeAt(offset, bytes.data(), bytes.size());
  }
}

// The runs' entries from the skip-th on, in one gathered write.
bool writeEntryRuns(File& file, int64_t offset, const std::vector<PositionChunks::Run>& runs, size_t skip) {
  if constexpr (std::endian::native == std::endian::little) {
    std::vector<File::Piece> pieces;
    pieces.reserve(runs.size());
    for (const PositionChunks::Run& run : runs) {
      const size_t from = std::min(skip, run.count);
      skip -= from;
      if (from < run.count) pieces.push_back(File::Piece{run.entries + from, 4 * (run.count - from)});
    }
    return file.writeGatheredAt(offset, pieces.data(), pieces.size());
  } else {
    const std::string bytes = encodeEntries(runs).substr(4 * skip);
    return file.writeAt(offset, bytes.data(), bytes.size());
  }
}
}  // namespace

std::string encodeEntries(const std::vector<PositionChunks::Run>& runs) {
  std::string bytes;
  for (const PositionChunks::Run& run : runs) bytes += encodeEntries(run.entries, run.count);
  return bytes;
}

std::string encodeEntries(const int32_t* positions, size_t n) {
  std::string bytes(4 * n, '\0');
  for (size_t i = 0; i < n; ++i) encodeInt32(positions[i], bytes.data() + 4 * i);
  return bytes;
}

std::string encodeIndex(const std::vector<int32_t>& positions) {
  std::string bytes(4, '\0');
  encodeInt32(static_cast<int32_t>(positions.size()), bytes.data());
  return bytes + encodeEntries(positions.data(), positions.size());
}

const char* describe(IndexFault fault) {
  // Indexed by IndexFault.
  static constexpr const char* kMessages[] = {
      "well formed",
      "the record count is negative",
      "the record count announces more entries than the file holds",
      "an entry is negative",
  };
  return kMessages[static_cast<size_t>(fault)];
}

IndexFault StoredIndex::fault() const {
  if (count < 0) return IndexFault::negativeCount;
  if (count > held) return IndexFault::countPastEntries;
  if (firstNegativeEntry >= 0) return IndexFault::negativeEntry;
  return IndexFault::none;
}

namespace {
// How many entries to take from a file holding `held` after `count`.
size_t entriesToRead(int32_t count, int64_t held) {
  return static_cast<size_t>(count < 0 ? held : std::min<int64_t>(count, held));
}

void decodeEntries(const char* bytes, StoredIndex& out) {
  for (size_t r = 0; r < out.entries.size(); ++r) {
    out.entries[r] = decodeInt32(bytes + 4 * r);
    if (out.entries[r] < 0 && out.firstNegativeEntry < 0) out.firstNegativeEntry = static_cast<int64_t>(r);
  }
}
}  // namespace

StoredIndex decodeIndex(std::string_view bytes) {
  StoredIndex out;
  out.bytes = static_cast<int64_t>(bytes.size());
  if (bytes.size() < 4) return out;
  out.count = decodeInt32(bytes.data());
  out.held = static_cast<int64_t>(bytes.size() - 4) / 4;
  out.entries.resize(entriesToRead(out.count, out.held));
  decodeEntries(bytes.data() + 4, out);
  return out;
}

bool readIndex(const File& file, StoredIndex& out) {
  out = StoredIndex{};
  const int64_t size = file.size();
  if (size < 0) return false;
  out.bytes = size;
  if (size < 4) return true;
  char countBytes[4];
  if (file.readAt(kCountOffset, countBytes, 4) != 4) return false;
  out.count = decodeInt32(countBytes);
  out.held = (size - 4) / 4;
  std::string bytes(4 * entriesToRead(out.count, out.held), '\0');
  if (file.readAt(entryOffset(0), bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) return false;
  out.entries.resize(bytes.size() / 4);
  decodeEntries(bytes.data(), out);
  return true;
}

bool indexListsRecords(const std::string& path) {
  if (!File::exists(path)) return false;
  File file;
  if (!file.openReadWrite(path)) return true;
  char countBytes[4];
  const int64_t got = file.readAt(kCountOffset, countBytes, 4);
  if (got < 0) return true;
  return got == 4 && decodeInt32(countBytes) != 0;
}

IndexFile::LoadResult IndexFile::load(std::vector<int32_t>& positions, int32_t& firstRepeat) {
  positions.clear();
  firstRepeat = -1;
  StoredIndex stored;
  if (!readIndex(file_, stored) || stored.fault() != IndexFault::none) return LoadResult::damaged;
  positions.reserve(stored.entries.size() + 10);
  for (const int32_t position : stored.entries) {
    if (!positions.empty() && positions.back() == position) {
      // Live records never share a position: a torn delete (crash order rule 5).
      if (firstRepeat < 0) firstRepeat = static_cast<int32_t>(positions.size());
      continue;
    }
    positions.push_back(position);
  }
  return firstRepeat < 0 ? LoadResult::ok : LoadResult::tornDelete;
}

// Crash order rule 5.
bool IndexFile::completeTornDelete(const std::vector<int32_t>& positions, int32_t from) {
  return writeEntries(file_, entryOffset(from), positions.data() + from,
                      positions.size() - static_cast<size_t>(from)) &&
         writeCount(static_cast<int32_t>(positions.size()));
}

bool IndexFile::writeCount(int32_t count) {
  char bytes[4];
  encodeInt32(count, bytes);
  return file_.writeAt(kCountOffset, bytes, 4);
}

bool IndexFile::step(bool written) { return written && (!syncEachStep_ || file_.sync()); }

bool IndexFile::appendEntry(int32_t newCount, int32_t position) {
  char bytes[4];
  encodeInt32(position, bytes);
  // Crash order rules 1 and 10, and 6 on failure.
  if (!step(file_.writeAt(entryOffset(newCount - 1), bytes, 4))) return false;
  if (step(writeCount(newCount))) return true;
  writeCount(newCount - 1);
  return false;
}

bool IndexFile::appendEntries(int32_t oldCount, const std::vector<int32_t>& positions) {
  const auto newCount = static_cast<int32_t>(oldCount + static_cast<int64_t>(positions.size()));
  // Crash order rule 30, and 6 on failure.
  if (!step(writeEntries(file_, entryOffset(oldCount), positions.data(), positions.size()))) return false;
  if (step(writeCount(newCount))) return true;
  writeCount(oldCount);
  return false;
}

bool IndexFile::rewriteEntry(int32_t r, int32_t position, int32_t previous) {
  char bytes[4];
  encodeInt32(position, bytes);
  // Crash order rules 3 and 11, and 6 on failure.
  if (step(file_.writeAt(entryOffset(r), bytes, 4))) return true;
  encodeInt32(previous, bytes);
  file_.writeAt(entryOffset(r), bytes, 4);
  return false;
}

bool IndexFile::removeEntry(int32_t r, int32_t count, const std::vector<PositionChunks::Run>& entriesFromR) {
  const bool after = r + 1 < count;
  const int64_t slot = entryOffset(r);
  // Crash order rules 2 and 13, and 6 on failure (open would complete a
  // half-done delete left standing).
  if (after && !step(writeEntryRuns(file_, slot, entriesFromR, 1))) {
    writeEntryRuns(file_, slot, entriesFromR, 0);
    return false;
  }
  if (!step(writeCount(count - 1))) {
    writeCount(count);
    if (after) writeEntryRuns(file_, slot, entriesFromR, 0);
    return false;
  }
  return true;
}

}  // namespace mero
