// Counting and reading records: numRecs, getRecord by position and by key,
// getPos. The caller holds the database's lock.

#include "engine/database.h"

namespace mero {

// The count lives in memory as well as at the start of the index file, and
// every change writes both before it returns, so memory answers.
int32_t Database::numRecs() const {
  lock_.assertHeld();
  return open_ ? records_.count() : 0;
}

// Any position is accepted: a deleted or moved record's old image still reads
// back, since nothing is removed from the data file. A position that does
// not hold a well-formed image reads as nothing.
bool Database::getRecord(int32_t position, FieldValues& out) const {
  lock_.assertHeld();
  if (!open_ || position < 0) return false;
  const bool read = singleRecordReader().readRecord(position, schema_.fieldCount, cipher_, out);
  releaseIfLarge(readBuffer_);
  return read;
}

bool Database::getRecordByKey(std::string_view key, FieldValues& out) const {
  lock_.assertHeld();
  if (!open_ || !keyIndexEnabled_) return false;
  int32_t position = 0;
  if (!keyIndex_.lookupKey(key, position)) return false;
  const bool read = cachedRecordReader().readRecord(position, schema_.fieldCount, cipher_, out);
  releaseIfLarge(readBuffer_);
  return read;
}

int32_t Database::getPos(std::string_view key) const {
  lock_.assertHeld();
  int32_t position = -1;
  if (!open_ || !keyIndex_.lookupKey(key, position)) return -1;
  return position;
}

}  // namespace mero
