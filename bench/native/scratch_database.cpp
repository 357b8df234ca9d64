#include "scratch_database.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "engine/schema.h"
#include "sample_records.h"

namespace mero::bench {

ScratchDatabase::ScratchDatabase(int32_t records) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mero-microbench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  dir_ = pattern;
  baseName_ = dir_ + "/records";

  const std::vector<uint8_t> flags = sampleIndexedFlags();
  DbArray<uint8_t> indexed(kSampleFields, 0);
  DbArray<DbString> names(kSampleFields, DbString());
  for (int32_t f = 0; f < kSampleFields; ++f) {
    indexed.at(f) = flags[static_cast<size_t>(f)];
    names.at(f) = DbString(("field" + std::to_string(f)).c_str());
  }
  if (!appendSchemaBlock(baseName_ + ".str", indexed, names)) throw std::runtime_error("define failed");

  std::unique_ptr<Database> db = open();
  LockGuard guard(db->lock());
  FieldValues values;
  for (int32_t i = 0; i < records; ++i) {
    sampleRecord(i, values);
    if (db->write(values) != WriteStatus::appended) throw std::runtime_error("write failed");
  }
}

ScratchDatabase::~ScratchDatabase() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

const ScratchDatabase& ScratchDatabase::shared(int32_t records) {
  static std::map<int32_t, std::unique_ptr<ScratchDatabase>> databases;
  std::unique_ptr<ScratchDatabase>& db = databases[records];
  if (!db) db.reset(new ScratchDatabase(records));
  return *db;
}

std::unique_ptr<Database> ScratchDatabase::open() const {
  std::unique_ptr<Database> db = Database::open(baseName_, kKey, true);
  if (!db) throw std::runtime_error("open of " + baseName_ + " failed");
  return db;
}

}  // namespace mero::bench
