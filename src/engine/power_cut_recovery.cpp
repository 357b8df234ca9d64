#include "engine/power_cut_recovery.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "engine/index_file.h"
#include "engine/record_format.h"
#include "engine/record_order_reader.h"
#include "engine/repeated_positions.h"
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
  // Only positions listed more than once need remembering.
  const std::vector<int32_t> repeated = repeatedPositions(entries.stored);
  std::unordered_set<int32_t> seen;
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
    if (!repeated.empty() && std::binary_search(repeated.begin(), repeated.end(), position) &&
        !seen.insert(position).second) {
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
                        DropReason& reason, ImageDamage& damage) {
  reason = DropReason::pastDataEnd;
  damage = ImageDamage{};
  if (position > dataSize - 4) return ImageVerdict::drop;
  char prefix[4];
  if (data.readAt(position, prefix, 4) != 4) {
    damage.fault = ImageFault::lengthUnreadable;
    return ImageVerdict::refuse;
  }
  const int32_t length = decodeInt32(prefix);
  reason = DropReason::zeroFilledImage;
  if (length == 0) return ImageVerdict::drop;
  damage = checkImageLength(length, fieldCount);
  if (!damage.ok()) return ImageVerdict::refuse;
  // Follows the field headers through the bytes the file holds.
  const auto read = [&](int64_t at, char* header) { return data.readAt(at, header, 4) == 4; };
  const HeaderWalk walk = walkHeaders(position, length, dataSize, fieldCount, read);
  const int64_t end = position + length;
  if (end > dataSize) {
    // Only the last image in the file can have lost its tail; a length
    // whose fields end inside the file is not a tail that went missing.
    if (position != lastStart || walk.complete()) {
      damage.fault = ImageFault::lengthPastFile;
      return ImageVerdict::refuse;
    }
    reason = DropReason::pastDataEnd;
    if (walk.cutByFile) return ImageVerdict::drop;
  }
  reason = DropReason::zeroFilledImage;
  // Fields that stop short of the image's end read a zeroed header as an
  // empty field: with a sector of zeros inside, the image never arrived.
  // Without one, the length claims bytes its fields do not hold (perhaps
  // other records' bytes, which an update in place would then overwrite):
  // no write of ours leaves that.
  if (walk.complete() && walk.at != end) {
    damage.fault = ImageFault::fieldsShortOfImage;
    damage.fieldsEnd = walk.at - position;
    return holdsZeroSector(data, dataSize, position, end) ? ImageVerdict::drop : ImageVerdict::refuse;
  }
  if (walk.complete()) return ImageVerdict::keep;
  // A field that does not fit: zeros before where the walk broke explain it.
  if (holdsZeroSector(data, dataSize, position, std::min(walk.at + 4, dataSize))) return ImageVerdict::drop;
  damage = walk.damage;
  return ImageVerdict::refuse;
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
  RecordOrderReader reader(dataFile, dataSize, entries.positions, schema.fieldCount);
  FieldValues values;
  std::vector<DroppedEntry> dropped;
  for (size_t k = 0; k < entries.positions.size(); ++k) {
    const int32_t position = entries.positions[k];
    const std::string_view image = dataFile.isOpen() ? reader.rawImage(k) : std::string_view();
    bool filled = true;
    if (!image.empty() &&
        decodeRecordBody(noKey, schema.fieldCount, image.data() + 4, image.size() - 4, values, nothingDeciphered.data(),
                         &filled) &&
        filled)
      continue;
    DropReason reason = DropReason::pastDataEnd;
    if (dataFile.isOpen()) {
      ImageDamage damage;
      const ImageVerdict verdict =
          judgeImage(dataFile, dataSize, schema.fieldCount, position, entries.lastStart, reason, damage);
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
