#include "engine/power_cut_recovery.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "engine/data_file_reader.h"
#include "engine/index_file.h"
#include "engine/record_format.h"
#include "engine/schema.h"
#include "foundation/int32_codec.h"
#include "platform/file.h"

namespace mero {

OpenFailure analyseIndex(const File& index, int64_t dataSize, IndexEntries& entries, RecoveryReport& report) {
  entries = IndexEntries{};
  report.storedCount = 0;
  report.missingEntries = 0;
  report.dropped.clear();
  // A file of fewer than 4 bytes is a new database's: no records.
  StoredIndex stored;
  if (!readIndex(index, stored)) return OpenFailure::filesUnavailable;
  if (stored.count < 0 || stored.firstNegativeEntry >= 0) return OpenFailure::damagedIndex;
  report.storedCount = stored.count;
  // A count ahead of the entries: the count reached the disk, the entries
  // (or the file's growth) did not. Those records were never stored.
  const auto held = static_cast<int32_t>(stored.entries.size());
  report.missingEntries = stored.count - held;
  entries.stored = std::move(stored.entries);
  entries.positions.reserve(static_cast<size_t>(held) + 10);
  entries.numbers.reserve(static_cast<size_t>(held));
  std::unordered_set<int32_t> seen;
  seen.reserve(static_cast<size_t>(held));
  for (int32_t r = 0; r < held; ++r) {
    const int32_t position = entries.stored[static_cast<size_t>(r)];
    // Position 0 holds the first record ever written, which is record 0
    // for as long as it lives: an entry of 0 further on is zero-fill.
    if (position == 0 && r > 0) {
      report.dropped.push_back({r, position, DropReason::zeroFilledEntry});
      continue;
    }
    // Live records never share a position: a later copy is what a delete's
    // shift leaves when the power goes before all of it and the count land.
    if (!seen.insert(position).second) {
      report.dropped.push_back({r, position, DropReason::repeatedPosition});
      continue;
    }
    entries.positions.push_back(position);
    entries.numbers.push_back(r);
    if (position <= dataSize - 4) entries.lastStart = std::max<int64_t>(entries.lastStart, position);
  }
  return OpenFailure::none;
}

namespace {

enum class Chain { complete, cutByEnd, broken };

// Follows the field headers of the image at position with length `length`
// through the bytes the file holds. `at` ends where the walk stopped.
Chain followFields(const File& data, int64_t dataSize, int64_t position, int64_t length, int32_t fieldCount,
                   int64_t& at) {
  at = position + 4;
  const int64_t end = position + length;
  for (int32_t f = 0; f < fieldCount; ++f) {
    char header[4];
    if (end - at < 4) return Chain::broken;
    if (at + 4 > dataSize) return Chain::cutByEnd;
    if (data.readAt(at, header, 4) != 4) return Chain::broken;
    const int32_t n = decodeInt32(header);
    if (n < 0 || n > end - at - 4) return Chain::broken;
    at += 4 + n;
    if (at > dataSize) return Chain::cutByEnd;
  }
  return Chain::complete;
}

// Whether a sector that [from, to) reaches into reads as zeros up to the end
// of the file: bytes that never reached the disk in a file that grew. The
// whole sector counts, not just the image's part of it: a small image's
// headers may lie in the first bytes of a sector that never came. A zeroed
// field header sends the walk astray, so the sector lies before where it broke.
bool holdsZeroSector(const File& data, int64_t dataSize, int64_t from, int64_t to) {
  char sector[kSectorBytes];
  for (int64_t s = from / kSectorBytes * kSectorBytes; s < to && s < dataSize; s += kSectorBytes) {
    const auto n = static_cast<size_t>(std::min(kSectorBytes, dataSize - s));
    if (data.readAt(s, sector, n) != static_cast<int64_t>(n)) return false;
    if (std::all_of(sector, sector + n, [](char c) { return c == 0; })) return true;
  }
  return false;
}

}  // namespace

ImageVerdict judgeImage(const File& data, int64_t dataSize, int32_t fieldCount, int64_t position, int64_t lastStart,
                        DropReason& reason) {
  reason = DropReason::pastDataEnd;
  if (position > dataSize - 4) return ImageVerdict::drop;
  char prefix[4];
  if (data.readAt(position, prefix, 4) != 4) return ImageVerdict::refuse;
  const int32_t length = decodeInt32(prefix);
  reason = DropReason::zeroFilledImage;
  if (length == 0) return ImageVerdict::drop;
  if (length < 4 + 4 * static_cast<int64_t>(fieldCount)) return ImageVerdict::refuse;
  int64_t at = 0;
  const Chain chain = followFields(data, dataSize, position, length, fieldCount, at);
  const int64_t end = position + length;
  if (end > dataSize) {
    // Only the last image in the file can have lost its tail; a length
    // whose fields end inside the file is not a tail that went missing.
    if (position != lastStart || chain == Chain::complete) return ImageVerdict::refuse;
    reason = DropReason::pastDataEnd;
    if (chain == Chain::cutByEnd) return ImageVerdict::drop;
  }
  reason = DropReason::zeroFilledImage;
  // Fields that stop short of the image's end read a zeroed header as an
  // empty field: with a sector of zeros inside, the image never arrived.
  // Without one, the length claims bytes its fields do not hold (perhaps
  // other records' bytes, which an update in place would then overwrite):
  // no write of ours leaves that.
  if (chain == Chain::complete && at != end)
    return holdsZeroSector(data, dataSize, position, end) ? ImageVerdict::drop : ImageVerdict::refuse;
  if (chain == Chain::broken && holdsZeroSector(data, dataSize, position, std::min(at + 4, dataSize)))
    return ImageVerdict::drop;
  return chain == Chain::complete ? ImageVerdict::keep : ImageVerdict::refuse;
}

bool writeRecoveredIndex(File& index, const IndexEntries& entries, const std::vector<int32_t>& kept,
                         RecoveryReport& report) {
  report.keptCount = static_cast<int32_t>(kept.size());
  size_t from = 0;
  while (from < kept.size() && from < entries.stored.size() && kept[from] == entries.stored[from]) ++from;
  if (from == kept.size() && report.storedCount == static_cast<int32_t>(kept.size())) return true;
  IndexFile file(index);
  if (!file.completeTornDelete(kept, static_cast<int32_t>(from)) || !index.sync()) return false;
  report.indexRepaired = true;
  return true;
}

OpenFailure analyseFiles(File& schemaFile, const File& indexFile, const File& dataFile, RecoveryReport& report) {
  report = RecoveryReport{};
  const int64_t dataSize = dataFile.isOpen() ? dataFile.size() : 0;
  if (dataSize < 0) return OpenFailure::filesUnavailable;
  IndexEntries entries;
  if (indexFile.isOpen()) {
    const OpenFailure index = analyseIndex(indexFile, dataSize, entries, report);
    if (index != OpenFailure::none) return index;
  }
  Schema schema;
  const SchemaBlock block = readSchemaBlock(schemaFile, schema);
  if (block == SchemaBlock::damaged || (block == SchemaBlock::incomplete && report.storedCount > 0))
    return OpenFailure::damagedSchema;
  report.schemaIncomplete = block == SchemaBlock::incomplete;

  const FieldCipher noKey{std::string_view()};
  const std::vector<uint8_t> nothingDeciphered(static_cast<size_t>(schema.fieldCount), 0);
  DataFileReader reader(dataFile, dataSize, kScanWindowBytes);
  FieldValues values;
  std::vector<DroppedEntry> dropped;
  for (size_t k = 0; k < entries.positions.size(); ++k) {
    const int32_t position = entries.positions[k];
    const std::string_view image =
        dataFile.isOpen() ? reader.rawImage(position, schema.fieldCount) : std::string_view();
    bool filled = true;
    if (!image.empty() &&
        decodeRecordBody(noKey, schema.fieldCount, image.data() + 4, image.size() - 4, values, nothingDeciphered.data(),
                         &filled) &&
        filled)
      continue;
    DropReason reason = DropReason::pastDataEnd;
    if (dataFile.isOpen()) {
      const ImageVerdict verdict =
          judgeImage(dataFile, dataSize, schema.fieldCount, position, entries.lastStart, reason);
      if (verdict == ImageVerdict::refuse) return OpenFailure::damagedRecord;
      if (verdict == ImageVerdict::keep) continue;
    }
    dropped.push_back({entries.numbers[k], position, reason});
  }
  report.keptCount = static_cast<int32_t>(entries.positions.size() - dropped.size());
  report.dropped.insert(report.dropped.end(), dropped.begin(), dropped.end());
  std::sort(report.dropped.begin(), report.dropped.end(),
            [](const DroppedEntry& a, const DroppedEntry& b) { return a.recordNumber < b.recordNumber; });
  return OpenFailure::none;
}

}  // namespace mero
