// Update: replace all values of one live record, in place when the new image
// is no longer than the one stored at its position and the write cannot be
// torn, else at the end of the data file. The record keeps its record number
// either way.

#include <string>

#include "engine/database.h"
#include "engine/index_file.h"
#include "engine/power_cut_recovery.h"
#include "engine/record_format.h"

namespace mero {

namespace {
// A write to a regular file can be cut short by a fatal signal between two
// pages (the kernel copies page by page), and by a power cut between two
// 512-byte sectors (the disk writes sector by sector); never inside a sector.
// A longer in-place write cut short would leave a record that is part old,
// part new, or whose field lengths no longer add up, so such an image goes to
// the end of the file instead, and only the 4-byte index entry is rewritten.
bool isUntearableWrite(int64_t offset, uint64_t length) {
  return length > 0 && offset / kSectorBytes == (offset + static_cast<int64_t>(length) - 1) / kSectorBytes;
}
}  // namespace

bool Database::updateRecord(int32_t position, const FieldValues& values, int32_t* movedTo) {
  const ScratchRelease release{*this};
  uint32_t slot = 0;
  if (!open_ || values.size() != schema_.fieldCount || !records_.slotOf(position, slot)) return false;

  DataFileReader reader = singleRecordReader();
  const std::string_view oldImage = reader.rawImage(position, schema_.fieldCount);
  if (oldImage.empty()) return false;
  previousImage_.assign(oldImage);  // put back if the write fails
  const std::string& previousImage = previousImage_;
  if (!decodeRecordBody(cipher_, schema_.fieldCount, previousImage.data() + 4, previousImage.size() - 4,
                        scratch_))
    return false;

  const uint64_t newLength = recordImageSize(values);
  if (!fitsInMemory(values)) return false;
  encodeRecord(cipher_, values, image_);

  int32_t newPosition = position;
  if (newLength <= previousImage.size() && isUntearableWrite(position, newLength)) {
    if (!dataFile_.writeAt(position, image_.data(), image_.size())) {
      dataFile_.writeAt(position, previousImage.data(), previousImage.size());
      return false;
    }
  } else {
    // The new image goes to the end first; only then does the index entry
    // point at it, so a crash in between leaves the old record live.
    if (static_cast<uint64_t>(dataEnd_) + newLength > static_cast<uint64_t>(kMaxDataFileSize)) return false;
    newPosition = static_cast<int32_t>(dataEnd_);
    if (!dataFile_.writeAt(newPosition, image_.data(), image_.size())) {
      resyncDataEnd();
      return false;
    }
    dataEnd_ += static_cast<int64_t>(newLength);
    if (!IndexFile(indexFile_).rewriteEntry(records_.recordNumberOf(slot), newPosition, position)) return false;
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
