// Making the files durable on request, whatever the sync mode.

#include "engine/database.h"

namespace mero {

// Memory already matches the files, so this is only about the disk: once
// the data, index and schema files, the zeroed journal (crash order rule
// 17: one left whole would roll a change back) and, when a file came or
// went, their folder are synced, a power cut keeps every change made so far.
bool Database::syncFiles() {
  if (!open_) return false;
  if (!dataFile_.sync() || !indexFile_.sync() || !schemaFile_.sync() || !journal_.sync()) return false;
  if ((directoryUnsynced_ || journal_.made()) && !File::syncDirectoryOf(baseName_)) return false;
  unsynced_ = false;
  directoryUnsynced_ = false;
  return true;
}

}  // namespace mero
