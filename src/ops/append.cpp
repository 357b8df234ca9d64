// Append: write one record at the end of the data file.

#include "engine/crash_order.h"
#include "engine/database.h"
#include "engine/index_file.h"
#include "engine/record_format.h"

namespace mero {

// Crash order rule 1 (image, entry, count: the count makes the record
// live), rule 10 in FULL, and rule 6 (memory changes only after the writes).
WriteStatus Database::write(const FieldValues& values, int32_t* appendedAt) {
  lock_.assertHeld();
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
  // Crash order rule 10.
  if (!madeDurable(dataFile_) ||
      !IndexFile(indexFile_, sync_ == SyncMode::full).appendEntry(records_.count() + 1, position))
    return WriteStatus::notStored;

  addToMemory(position, values, keyed ? &key : nullptr);  // a fresh position: the old end of the file
  if (appendedAt != nullptr) *appendedAt = position;
  return WriteStatus::appended;
}

}  // namespace mero
