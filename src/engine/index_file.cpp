#include "engine/index_file.h"

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
}  // namespace

std::string encodeEntries(const int32_t* positions, size_t n) {
  std::string bytes(4 * n, '\0');
  for (size_t i = 0; i < n; ++i) encodeInt32(positions[i], bytes.data() + 4 * i);
  return bytes;
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
  const int64_t size = file_.size();
  if (size < 0) return LoadResult::damaged;
  if (size < 4) return LoadResult::ok;
  char countBytes[4];
  if (file_.readAt(kCountOffset, countBytes, 4) != 4) return LoadResult::damaged;
  const int32_t count = decodeInt32(countBytes);
  if (count < 0 || entryOffset(count) > size) return LoadResult::damaged;

  std::string bytes(4 * static_cast<size_t>(count), '\0');
  if (file_.readAt(entryOffset(0), bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size()))
    return LoadResult::damaged;
  positions.reserve(static_cast<size_t>(count) + 10);
  for (int32_t r = 0; r < count; ++r) {
    const int32_t position = decodeInt32(bytes.data() + 4 * r);
    if (position < 0) return LoadResult::damaged;
    if (!positions.empty() && positions.back() == position) {
      // Live records never share a position: this is a delete that shifted
      // (some of) its entries but died before it wrote the count.
      if (firstRepeat < 0) firstRepeat = static_cast<int32_t>(positions.size());
      continue;
    }
    positions.push_back(position);
  }
  return firstRepeat < 0 ? LoadResult::ok : LoadResult::tornDelete;
}

// The same writes, in the same order, as the delete would have finished with.
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
  // Past the count the entry is unseen; a stale entry left there by a delete
  // would come alive if the count reached the disk before the new entry.
  if (!step(file_.writeAt(entryOffset(newCount - 1), bytes, 4))) return false;
  if (step(writeCount(newCount))) return true;
  writeCount(newCount - 1);  // a count written in part must not stand
  return false;
}

bool IndexFile::appendEntries(int32_t oldCount, const std::vector<int32_t>& positions) {
  const auto newCount = static_cast<int32_t>(oldCount + static_cast<int64_t>(positions.size()));
  if (!step(writeEntries(file_, entryOffset(oldCount), positions.data(), positions.size()))) return false;  // unseen
  if (step(writeCount(newCount))) return true;
  writeCount(oldCount);  // a count written in part must not stand
  return false;
}

bool IndexFile::rewriteEntry(int32_t r, int32_t position, int32_t previous) {
  char bytes[4];
  encodeInt32(position, bytes);
  if (step(file_.writeAt(entryOffset(r), bytes, 4))) return true;
  encodeInt32(previous, bytes);  // an entry written in part must not stand
  file_.writeAt(entryOffset(r), bytes, 4);
  return false;
}

bool IndexFile::removeEntry(int32_t r, const std::vector<int32_t>& positionsBefore) {
  const size_t count = positionsBefore.size();
  const size_t after = count - static_cast<size_t>(r) - 1;
  const int64_t slot = entryOffset(r);
  // On a failed write the entries as they were are put back, so the file
  // does not show a half-done delete that open would complete.
  if (after > 0 && !step(writeEntries(file_, slot, positionsBefore.data() + r + 1, after))) {
    writeEntries(file_, slot, positionsBefore.data() + r, after + 1);
    return false;
  }
  if (!step(writeCount(static_cast<int32_t>(count - 1)))) {
    writeCount(static_cast<int32_t>(count));
    if (after > 0) writeEntries(file_, slot, positionsBefore.data() + r, after + 1);
    return false;
  }
  return true;
}

}  // namespace mero
