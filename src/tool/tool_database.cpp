#include "tool/tool_database.h"

#include "engine/index_file.h"
#include "engine/rewrite_recovery.h"
#include "tool/exit_status.h"

namespace mero::tool {

int ToolDatabase::open(const std::string& base, Access access, std::string& error) {
  base_ = base;
  const std::string schemaPath = base + ".str";
  if (!File::exists(schemaPath)) {
    error = "no database at " + base + " (" + schemaPath + " is missing)";
    return kUnreadable;
  }
  if (!schemaFile_.openReadWrite(schemaPath)) {
    error = "cannot open " + schemaPath + " for reading and writing";
    return kUnreadable;
  }
  const File::LockResult lock = access == Access::exclusive ? schemaFile_.lockExclusive() : schemaFile_.lockShared();
  if (lock == File::LockResult::heldElsewhere) {
    error = access == Access::exclusive
                ? base + " is open in another process: close it there first"
                : base + " is being rewritten by another process: try again when it has finished";
    return kInUse;
  }
  if (!recoverInterruptedRewrite(base)) {
    error = "cannot finish an interrupted rewrite of " + base;
    return kUnreadable;
  }
  File* files[2] = {&data_, &index_};
  int64_t* sizes[2] = {&dataSize_, &indexSize_};
  const char* extensions[2] = {".dat", ".idx"};
  for (int i = 0; i < 2; ++i) {
    const std::string path = base + extensions[i];
    if (!File::exists(path)) continue;
    if (!files[i]->openReadWrite(path) || (*sizes[i] = files[i]->size()) < 0) {
      error = "cannot read " + path;
      return kUnreadable;
    }
  }
  return kSuccess;
}

bool ToolDatabase::readSchema(std::string& error) {
  if (!mero::readSchema(schemaFile_, schema_)) {
    error = "the schema block of " + base_ + ".str is damaged";
    return false;
  }
  return true;
}

bool ToolDatabase::loadPositions(std::string& error) {
  positions_.clear();
  if (!index_.isOpen()) return true;
  int32_t firstRepeat = -1;
  if (IndexFile(index_).load(positions_, firstRepeat) == IndexFile::LoadResult::damaged) {
    error = "the index file " + base_ + ".idx is damaged (run mero check)";
    return false;
  }
  return true;
}

}  // namespace mero::tool
