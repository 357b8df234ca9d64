// Append: write one record at the end of the data file.

#include "engine/database.h"
#include "engine/index_file.h"
#include "engine/record_format.h"

namespace mero {

// The image goes to the data file first, then the index entry, then the
// count: until the count is written the record is not live, so a process
// killed on the way leaves at most unreferenced bytes behind. Memory changes
// only once all three writes have succeeded.
WriteStatus Database::write(const FieldValues& values, int32_t* appendedAt) {
  const ScratchRelease release{*this};
  // A schema block cut short is undefined until the next define replaces it;
  // records written meanwhile would keep that define out for good.
  if (!open_ || recovery_.schemaIncomplete) return WriteStatus::notStored;
  if (values.size() != schema_.fieldCount) return WriteStatus::wrongFieldCount;
  // With no fields there is no first value to key on: the record is appended.
  const bool keyed = keyIndexEnabled_ && schema_.fieldCount > 0;
  KeyIndex::Probe key{};
  if (keyed) {
    key = keyIndex_.probe(values[0]);
    if (key.found) return WriteStatus::duplicateKey;
  }

  const uint64_t size = recordImageSize(values);
  if (static_cast<uint64_t>(dataEnd_) + size > static_cast<uint64_t>(kMaxDataFileSize)) return WriteStatus::notStored;
  if (!fitsInMemory(values)) return WriteStatus::notStored;

  encodeRecord(cipher_, values, image_);
  const auto position = static_cast<int32_t>(dataEnd_);
  if (!dataFile_.writeAt(position, image_.data(), image_.size())) {
    resyncDataEnd();
    return WriteStatus::notStored;
  }
  dataEnd_ += static_cast<int64_t>(size);
  // In FULL the image is on the disk before the entry, the entry before the count.
  if (!madeDurable(dataFile_) ||
      !IndexFile(indexFile_, sync_ == SyncMode::full).appendEntry(records_.count() + 1, position))
    return WriteStatus::notStored;

  addToMemory(position, values, keyed ? &key : nullptr);  // a fresh position: the old end of the file
  if (appendedAt != nullptr) *appendedAt = position;
  return WriteStatus::appended;
}

}  // namespace mero
