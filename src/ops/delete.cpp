// Delete: remove one live record from the index file and from memory. The
// data file is not touched; the image stays where it was.

#include "engine/crash_order.h"
#include "engine/database.h"
#include "engine/index_file.h"
#include "engine/power_cut_recovery.h"
#include "engine/rollback_journal.h"

namespace mero {

bool Database::deleteRecord(int32_t position) {
  lock_.assertHeld();
  const ScratchRelease release{*this};
  uint32_t slot = 0;
  if (!open_ || !records_.slotOf(position, slot)) return false;
  const int32_t r = records_.recordNumberOf(slot);

  // The key to drop is the record's first field, read back from its image.
  bool haveKey = false;
  if (keyIndexEnabled_ && schema_.fieldCount > 0)
    haveKey =
        cachedRecordReader().readRecord(position, schema_.fieldCount, cipher_, scratch_, keyAndIndexedFields_.data());

  // Crash order rule 13: in FULL a shift across sectors is journaled.
  const bool full = sync_ == SyncMode::full;
  const int32_t count = records_.count();
  records_.positionRuns(r, entryRuns_);
  const auto shifted = static_cast<size_t>(count - r - 1);
  const bool journaled = full && shifted > 0 && !isUntearableWrite(entryOffset(r), 4 * shifted, kSectorBytes);
  const std::string oldCount = journaled ? encodeEntries(&count, 1) : std::string();
  // The entries the shift overwrites: records r..count-2.
  const std::string oldEntries = journaled ? encodeEntries(entryRuns_).substr(0, 4 * shifted) : std::string();
  if (journaled &&
      !journal_.write(JournalTarget::indexFile, {{kCountOffset, oldCount}, {entryOffset(r), oldEntries}}, true))
    return false;
  unsynced_ = true;
  // Crash order rule 2: the shift, then the smaller count.
  bool done = IndexFile(indexFile_, full).removeEntry(r, count, entryRuns_);
  if (journaled && !journal_.clear(true) && done) {
    // A journal left behind would undo this delete, and every later change
    // to these entries, at the next open: the delete is undone now instead.
    indexFile_.writeAt(entryOffset(r), oldEntries.data(), oldEntries.size());
    indexFile_.writeAt(kCountOffset, oldCount.data(), oldCount.size());
    indexFile_.sync();
    done = false;
  }
  if (!done) return false;

  if (haveKey) keyIndex_.removeKey(scratch_[0], position);
  removeFromMemory(slot);
  return true;
}

}  // namespace mero
