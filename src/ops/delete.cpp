// Delete: remove one live record from the index file and from memory. The
// data file is not touched; the image stays where it was.

#include "engine/database.h"
#include "engine/index_file.h"

namespace mero {

bool Database::deleteRecord(int32_t position) {
  const ScratchRelease release{*this};
  uint32_t slot = 0;
  if (!open_ || !records_.slotOf(position, slot)) return false;
  const int32_t r = records_.recordNumberOf(slot);

  // The key to drop is the record's first field, read back from its image.
  bool haveKey = false;
  if (keyIndexEnabled_ && schema_.fieldCount > 0)
    haveKey = singleRecordReader().readRecord(position, schema_.fieldCount, cipher_, scratch_,
                                              keyAndIndexedFields_.data());

  if (!IndexFile(indexFile_).removeEntry(r, records_.positions())) return false;

  if (haveKey) keyIndex_.removeKey(scratch_[0], position);
  removeFromMemory(slot);
  return true;
}

}  // namespace mero
