#include "tool/tool_database.h"

#include "engine/file_names.h"
#include "engine/index_file.h"
#include "engine/rewrite_recovery.h"
#include "engine/rollback_journal.h"
#include "tool/exit_status.h"

namespace mero::tool {

std::string holderOf(const std::string& base) {
  for (const char* extension : kRewrittenExtensions)
    if (File::exists(rewriteDraftPath(base + extension))) return "another mero command is rewriting " + base;
  return base + " is open in an application";
}

int ToolDatabase::open(const std::string& base, Access access, std::string& error) {
  base_ = base;
  const std::string schemaPath = schemaFileName(base);
  if (!File::exists(schemaPath)) {
    error = "no database at " + base + " (" + schemaPath + " is missing)";
    return kUnreadable;
  }
  if (!schemaFile_.openReadWrite(schemaPath)) {
    error = "cannot open " + schemaPath + ": " + File::lastErrorText();
    return kUnreadable;
  }
  const File::LockResult lock = access == Access::exclusive ? schemaFile_.lockExclusive() : schemaFile_.lockShared();
  // Where the file system keeps no locks there is nothing to honour.
  const bool locked = lock != File::LockResult::heldElsewhere;
  if (!locked && access != Access::live) {
    error = holderOf(base) +
            (access == Access::exclusive
                 ? ": it can be rewritten only when nothing else has it open; try again once it is closed"
                 : ", which may be changing it: close it there first, or give --live to read a moment's view");
    return kInUse;
  }
  live_ = !locked;
  // Only a holder of the lock may finish or undo what a killed rewrite or
  // in-place update left.
  if (locked && access != Access::untouched && (!recoverInterruptedRewrite(base) || !recoverRollbackJournal(base))) {
    error = "cannot finish an interrupted rewrite or update of " + base + ": " + File::lastErrorText();
    return kUnreadable;
  }
  File* files[2] = {&data_, &index_};
  for (int i = 0; i < 2; ++i) {
    const std::string path = base + kRewrittenExtensions[i];
    if (!File::exists(path)) continue;
    if (!files[i]->openReadWrite(path)) {
      error = "cannot open " + path + ": " + File::lastErrorText();
      return kUnreadable;
    }
  }
  refreshSizes();
  if (dataSize_ < 0 || indexSize_ < 0) {
    error = "cannot read the size of " + base + "'s files";
    return kUnreadable;
  }
  return kSuccess;
}

bool ToolDatabase::readSchema(std::string& error) {
  if (!mero::readSchema(schemaFile_, schema_)) {
    error = "the schema block of " + schemaFileName(base_) + " is damaged";
    return false;
  }
  return true;
}

void ToolDatabase::refreshSizes() {
  indexSize_ = index_.isOpen() ? index_.size() : 0;
  dataSize_ = data_.isOpen() ? data_.size() : 0;
  if (index_.isOpen()) index_.identify(indexSeen_);
  if (data_.isOpen()) data_.identify(dataSeen_);
}

bool ToolDatabase::unchangedSinceLoad() const {
  FileIdentity now{};
  if (index_.isOpen() && (!index_.identify(now) || !(now == indexSeen_))) return false;
  if (data_.isOpen() && (!data_.identify(now) || !(now == dataSeen_))) return false;
  return true;
}

bool ToolDatabase::loadPositions(std::string& error) {
  positions_.clear();
  // The index first, then the sizes: a live engine appends the image before
  // its entry, so every entry read here names bytes already in the data file.
  if (index_.isOpen()) {
    int32_t firstRepeat = -1;
    if (IndexFile(index_).load(positions_, firstRepeat) == IndexFile::LoadResult::damaged) {
      error = "the index file " + indexFileName(base_) + " is damaged (mero check lists the problems)";
      refreshSizes();
      return false;
    }
  }
  refreshSizes();
  return true;
}

}  // namespace mero::tool
