#include "engine/database.h"

#include "engine/index_file.h"

namespace mero {

namespace {
// Large enough that the rebuild and scans read the data file in a few big
// pieces, small enough not to matter next to the database itself.
constexpr size_t kScanWindow = 1u << 20;
}  // namespace

Database::Database(Schema schema, std::string_view key, bool useKeyIndex)
    : schema_(std::move(schema)), cipher_(key), keyIndexEnabled_(useKeyIndex), pool_(schema_.indexed) {
  records_.clear();
}

std::unique_ptr<Database> Database::open(const std::string& baseName, std::string_view key,
                                         bool useKeyIndex) {
  File files[3];
  const char* const extensions[3] = {".dat", ".idx", ".str"};
  for (int i = 0; i < 3; ++i) {
    const std::string path = baseName + extensions[i];
    if (!File::createIfMissing(path) || !files[i].openReadWrite(path)) return nullptr;
  }
  File& dataFile = files[0];
  File& indexFile = files[1];

  Schema schema;
  if (!readSchema(files[2], schema)) return nullptr;
  const int64_t dataSize = dataFile.size();
  if (dataSize < 0) return nullptr;

  std::vector<int32_t> positions;
  int32_t firstRepeat = -1;
  IndexFile index(indexFile);
  const IndexFile::LoadResult loaded = index.load(positions, firstRepeat);
  if (loaded == IndexFile::LoadResult::damaged) return nullptr;

  std::unique_ptr<Database> db(new Database(std::move(schema), key, useKeyIndex));
  db->dataFile_ = std::move(dataFile);
  db->indexFile_ = std::move(indexFile);
  db->schemaFile_ = std::move(files[2]);
  db->dataEnd_ = dataSize;
  db->records_.reserve(positions.size());
  for (const int32_t position : positions) {
    uint32_t existing = 0;
    if (db->records_.slotOf(position, existing)) return nullptr;  // two entries, one record
    db->records_.append(position);
  }
  if (!db->rebuild()) return nullptr;
  // Only a database that reads back whole is repaired: damage is left as found.
  if (loaded == IndexFile::LoadResult::tornDelete &&
      !IndexFile(db->indexFile_).completeTornDelete(db->records_.positions(), firstRepeat))
    return nullptr;
  return db;
}

// Reads every live record once, in record order, into the search pool and the
// key index. Among records sharing a first field the lowest-numbered one keeps
// the key, since an insert never overwrites.
bool Database::rebuild() {
  DataFileReader reader(dataFile_, dataEnd_, kScanWindow);
  const std::vector<int32_t>& positions = records_.positions();
  for (uint32_t slot = 0; slot < positions.size(); ++slot) {
    if (!reader.readRecord(positions[slot], schema_.fieldCount, cipher_, scratch_)) return false;
    if (!pool_.canHold(pool_.indexedBytes(scratch_))) return false;
    pool_.poolAdd(slot, scratch_, cipher_);
    if (keyIndexEnabled_ && schema_.fieldCount > 0) keyIndex_.insertKey(scratch_[0], positions[slot]);
  }
  return true;
}

void Database::addToMemory(int32_t position, const FieldValues& values) {
  const uint32_t slot = records_.append(position);
  pool_.poolAdd(slot, values, cipher_);
  if (keyIndexEnabled_ && schema_.fieldCount > 0) keyIndex_.insertKey(values[0], position);
}

// After a failed write the file may have grown by part of an image; the next
// image still goes at the true end of the file.
void Database::resyncDataEnd() {
  const int64_t size = dataFile_.size();
  if (size > dataEnd_) dataEnd_ = size;
}

void Database::shutdown() {
  open_ = false;
  dataFile_.close();
  indexFile_.close();
  schemaFile_.close();
}

}  // namespace mero
