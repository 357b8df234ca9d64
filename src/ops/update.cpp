// Update: replace all values of one live record, in place when the new image
// fits the one stored at its position and no crash can leave it unreadable
// (through the rollback journal when the write could be torn), else at the
// end of the data file.
// The record keeps its record number either way.

#include <cstring>
#include <string>
#include <string_view>

#include "engine/crash_order.h"
#include "engine/database.h"
#include "engine/index_file.h"
#include "engine/power_cut_recovery.h"
#include "engine/record_format.h"
#include "engine/rollback_journal.h"

namespace mero {

namespace {
// Whether two well-formed images of fieldCount fields have the same length
// and the same length for every field, so that every length prefix stands at
// the same offset with the same value in both (crash_order.h, rule 16).
bool sameLayout(std::string_view a, std::string_view b, int32_t fieldCount) {
  if (a.size() != b.size()) return false;  // so their first four bytes, the length, agree
  size_t at = 4;
  for (int32_t f = 0; f < fieldCount; ++f) {
    if (a.size() - at < 4 || std::memcmp(a.data() + at, b.data() + at, 4) != 0) return false;
    uint32_t length = 0;
    for (size_t i = 4; i-- > 0;) length = (length << 8) | static_cast<unsigned char>(a[at + i]);
    if (length > a.size() - at - 4) return false;
    at += 4 + length;
  }
  return at == a.size();
}
}  // namespace

// Crash order rules 4, 12 and 16 (and 6 on failure).
bool Database::writeInPlace(int64_t offset, const std::string& previous, const std::string& image) {
  const bool full = sync_ == SyncMode::full;
  unsynced_ = true;
  const bool journaled = !isUntearableWrite(offset, image.size(), full ? kSectorBytes : kPageBytes);
  const std::string_view overwritten = std::string_view(previous).substr(0, image.size());
  if (journaled && !journal_.write(JournalTarget::dataFile, {{offset, overwritten}}, full)) return false;
  bool done = dataFile_.writeAt(offset, image.data(), image.size()) && (!full || dataFile_.sync());
  if (done && journaled) done = journal_.clear(full);
  if (done) return true;
  if (dataFile_.writeAt(offset, previous.data(), previous.size()) && (!full || dataFile_.sync()) && journaled)
    journal_.clear(full);
  return false;
}

bool Database::updateRecord(int32_t position, const FieldValues& values, int32_t* movedTo) {
  lock_.assertHeld();
  const ScratchRelease release{*this};
  uint32_t slot = 0;
  if (!open_ || values.size() != schema_.fieldCount || !records_.slotOf(position, slot)) return false;

  DataFileReader reader = cachedRecordReader();
  const std::string_view oldImage = reader.rawImage(position, schema_.fieldCount);
  if (oldImage.empty()) return false;
  previousImage_.assign(oldImage);  // put back if the write fails
  const std::string& previousImage = previousImage_;
  if (!decodeRecordBody(cipher_, schema_.fieldCount, previousImage.data() + 4, previousImage.size() - 4, scratch_))
    return false;

  const uint64_t newLength = recordImageSize(values);
  if (!fitsInMemory(values)) return false;
  encodeRecord(cipher_, values, image_);

  int32_t newPosition = position;
  // Rule 4: over the old image when it fits and no power cut can tear it
  // into an image that does not read (rule 16).
  if (newLength <= previousImage.size() &&
      (sync_ == SyncMode::full || isUntearableWrite(position, newLength, kSectorBytes) ||
       sameLayout(previousImage, image_, schema_.fieldCount))) {
    if (!writeInPlace(position, previousImage, image_)) return false;
  } else {
    // Crash order rules 3 and 11: the new image, then the entry repointed.
    if (static_cast<uint64_t>(dataEnd_) + newLength > static_cast<uint64_t>(kMaxDataFileSize)) return false;
    newPosition = static_cast<int32_t>(dataEnd_);
    if (!dataFile_.writeAt(newPosition, image_.data(), image_.size())) {
      resyncDataEnd();
      return false;
    }
    dataEnd_ += static_cast<int64_t>(newLength);
    if (!madeDurable(dataFile_) || !IndexFile(indexFile_, sync_ == SyncMode::full)
                                        .rewriteEntry(records_.recordNumberOf(slot), newPosition, position))
      return false;
    records_.move(slot, newPosition);
  }

  if (keyIndexEnabled_ && schema_.fieldCount > 0) {
    keyIndex_.removeKey(scratch_[0], position);
    keyIndex_.insertKey(values[0], newPosition);
  }
  replaceInMemory(slot, scratch_, values);
  if (movedTo != nullptr) *movedTo = newPosition;
  return true;
}

}  // namespace mero
