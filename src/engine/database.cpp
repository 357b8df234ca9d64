#include "engine/database.h"

#include <algorithm>
#include <cassert>
#include <climits>

#include "engine/closed_engine_release.h"
#include "engine/file_names.h"
#include "engine/index_file.h"
#include "engine/power_cut_recovery.h"
#include "engine/record_format.h"
#include "engine/record_order_reader.h"
#include "engine/rewrite_recovery.h"
#include "engine/rollback_journal.h"

namespace mero {

Database::Database(Schema schema, std::string_view key, bool useKeyIndex, SyncMode sync, std::string baseName)
    : schema_(std::move(schema)),
      cipher_(key),
      keyIndexEnabled_(useKeyIndex),
      sync_(sync),
      baseName_(std::move(baseName)),
      journal_(rollbackJournalPath(baseName_)),
      indexed_(schema_.indexed.begin(), schema_.indexed.end()),
      searchTexts_(static_cast<size_t>(schema_.fieldCount)),
      valueHashes_(static_cast<size_t>(schema_.fieldCount)),
      keyAndIndexedFields_(schema_.indexed.begin(), schema_.indexed.end()) {
  records_.clear();
  for (int32_t f = 0; f < schema_.fieldCount; ++f)
    valueHashes_[static_cast<size_t>(f)].attach(&searchTexts_[static_cast<size_t>(f)]);
  if (useKeyIndex && schema_.fieldCount > 0) keyAndIndexedFields_[0] = 1;
}

std::unique_ptr<Database> Database::open(const std::string& baseName, std::string_view key, bool useKeyIndex,
                                         OpenFailure* failure, SyncMode sync) {
  OpenRefusal refusal;
  std::unique_ptr<Database> db = open(baseName, key, useKeyIndex, refusal, sync);
  if (failure != nullptr) *failure = refusal.failure;
  return db;
}

std::unique_ptr<Database> Database::open(const std::string& baseName, std::string_view key, bool useKeyIndex,
                                         OpenRefusal& refusal, SyncMode sync) {
  refusal = OpenRefusal{};
  OpenFailure& why = refusal.failure;
  // An engine closed a moment ago is given back first, so that closing and
  // reopening never holds two engines' memory.
  awaitClosedEngineRelease();
  CreatedFiles created;  // declared before the files, so they are closed before removal
  File schemaFile;
  // The engine holds the schema file's lock exclusively, as a tool's rewrite
  // does; the schema file is never replaced, so the lock stands for the set.
  if (!created.openOrCreate(schemaFileName(baseName), schemaFile)) {
    why = OpenFailure::filesUnavailable;
    refusal.file = schemaFileName(baseName);
    refusal.systemError = File::lastError();
    return nullptr;
  }
  const File::LockResult lock = schemaFile.lockExclusive();
  if (lock != File::LockResult::taken) {
    // A schema file this call made but another open locked first is theirs now.
    if (lock == File::LockResult::heldElsewhere) {
      created.keep();
      why = OpenFailure::locked;
      refusal.file = baseName;
    } else {
      why = OpenFailure::lockUnsupported;
      refusal.file = schemaFileName(baseName);
      refusal.systemError = 0;
    }
    return nullptr;
  }
  return openHeld(baseName, key, useKeyIndex, sync, schemaFile, created, refusal);
}

std::unique_ptr<Database> Database::openHeld(const std::string& baseName, std::string_view key, bool useKeyIndex,
                                             SyncMode sync, File& schemaFile, CreatedFiles& created,
                                             OpenRefusal& refusal) {
  refusal = OpenRefusal{};
  OpenFailure& why = refusal.failure;
  File files[2];
  const std::string paths[3] = {dataFileName(baseName), indexFileName(baseName), schemaFileName(baseName)};
  // Names the file a refusal concerns, with the system's error when a file
  // operation failed.
  const auto concerning = [&](int i, int systemError = 0) {
    refusal.file = paths[i];
    refusal.systemError = systemError;
  };
  // Under the lock, a rewrite that a killed tool left half done is finished
  // or undone, and a write that a rollback journal guards is rolled back,
  // before the data and index files are opened.
  if (!recoverInterruptedRewrite(baseName) || !recoverRollbackJournal(baseName)) {
    why = OpenFailure::repairFailed;
    refusal.file = baseName;
    return nullptr;
  }
  for (int i = 0; i < 2; ++i) {
    if (!created.openOrCreate(paths[i], files[i])) {
      why = OpenFailure::filesUnavailable;
      concerning(i, File::lastError());
      return nullptr;
    }
  }
  File& dataFile = files[0];
  File& indexFile = files[1];

  Schema schema;
  const SchemaBlock block = readSchemaBlock(schemaFile, schema);
  if (block == SchemaBlock::damaged) {
    why = OpenFailure::damagedSchema;
    concerning(2, schemaFile.error());
    return nullptr;
  }
  const int64_t dataSize = dataFile.size();
  if (dataSize < 0) {
    why = OpenFailure::filesUnavailable;
    concerning(0, dataFile.error());
    return nullptr;
  }

  IndexEntries entries;
  RecoveryReport report;
  why = analyseIndex(indexFile, dataSize, entries, report);
  if (why != OpenFailure::none) {
    concerning(1, indexFile.error());
    return nullptr;
  }
  // A define cut short before any record was written opens as undefined, and
  // the next define replaces the block; records need the schema they had.
  if (block == SchemaBlock::incomplete) {
    if (report.storedCount > 0) {
      why = OpenFailure::damagedSchema;
      concerning(2);
      return nullptr;
    }
    report.schemaIncomplete = true;
  }

  std::unique_ptr<Database> db(new Database(std::move(schema), key, useKeyIndex, sync, baseName));
  db->dataFile_ = std::move(dataFile);
  db->indexFile_ = std::move(indexFile);
  db->schemaFile_ = std::move(schemaFile);
  db->dataEnd_ = dataSize;
  db->recovery_ = std::move(report);
  why = db->rebuild(entries.positions, entries.numbers, entries.lastStart, refusal);
  if (why != OpenFailure::none) concerning(why == OpenFailure::repeatedPosition ? 1 : 0, db->dataFile_.error());
  // Only a database that reads back whole is repaired.
  if (why == OpenFailure::none &&
      !writeRecoveredIndex(db->indexFile_, entries, db->records_.positionList(), db->recovery_)) {
    why = OpenFailure::repairFailed;
    concerning(1, db->indexFile_.error());
  }
  // New files' names reach the disk with the folder: at once in FULL, at close in CLOSE.
  if (why == OpenFailure::none && created.madeAny() && sync != SyncMode::off) {
    db->directoryUnsynced_ = true;
    if (sync == SyncMode::full && !File::syncDirectoryOf(baseName)) {
      why = OpenFailure::filesUnavailable;
      refusal.file = baseName;
      refusal.systemError = File::lastError();
    }
  }
  if (why != OpenFailure::none) {
    LockGuard guard(db->lock_);
    db->shutdown();
    return nullptr;
  }
  std::sort(db->recovery_.dropped.begin(), db->recovery_.dropped.end(),
            [](const DroppedEntry& a, const DroppedEntry& b) { return a.recordNumber < b.recordNumber; });
  created.keep();
  return db;
}

// Reads every live record once, in record order, into the search texts and
// the key index; the value hashes are built from the search texts when a
// search first needs them (builtValueHashes). Among records sharing a first field the lowest-numbered one keeps
// the key, since an insert never overwrites.
OpenFailure Database::rebuild(const std::vector<int32_t>& positions, const std::vector<int32_t>& numbers,
                              int64_t lastStart, OpenRefusal& refusal) {
  const ScratchRelease release{*this};
  RecordOrderReader reader(dataFile_, dataEnd_, positions, schema_.fieldCount);
  records_.reserve(positions.size());
  if (keyIndexEnabled_) keyIndex_.beginLoading(positions.size());
  for (int32_t f = 0; f < schema_.fieldCount; ++f) {
    if (!isIndexed(f)) continue;
    searchTexts_[f].reserve(positions.size());
  }
  for (size_t r = 0; r < positions.size(); ++r) {
    const int32_t position = positions[r];
    bool filled = true;
    const bool read = reader.readRecord(r, cipher_, scratch_, keyAndIndexedFields_.data(), &filled);
    if (!read || !filled) {
      DropReason reason = DropReason::pastDataEnd;
      ImageDamage damage;
      const ImageVerdict verdict =
          judgeImage(dataFile_, dataEnd_, schema_.fieldCount, position, lastStart, reason, damage);
      if (verdict == ImageVerdict::refuse) {
        refusal.record = numbers[r];
        refusal.position = position;
        refusal.damage = damage;
        return OpenFailure::damagedRecord;
      }
      if (verdict == ImageVerdict::drop) {
        recovery_.dropped.push_back({numbers[r], position, reason});
        continue;
      }
    }
    if (!fitsInMemory(scratch_)) return OpenFailure::tooLargeForMemory;
    addToMemory(position, scratch_);
  }
  if (keyIndexEnabled_) keyIndex_.finishLoading();
  for (int32_t f = 0; f < schema_.fieldCount; ++f)
    if (isIndexed(f)) searchTexts_[f].fitToSize();
  return records_.finishLoading() ? OpenFailure::none : OpenFailure::repeatedPosition;
}

// The caller holds the lock, which every reader and writer of the index
// takes too, so building it here is as safe as any change.
const ValueHashIndex& Database::builtValueHashes(int32_t field) const {
  ValueHashIndex& hashes = valueHashes_[static_cast<size_t>(field)];
  if (!hashes.built()) hashes.build(records_.slotCount(), [this](uint32_t slot) { return records_.isLive(slot); });
  return hashes;
}

bool Database::fitsInMemory(const FieldValues& values) const {
  for (int32_t f = 0; f < schema_.fieldCount; ++f)
    if (isIndexed(f) && !searchTexts_[f].canHold(values[f].size())) return false;
  return true;
}

void Database::addToMemory(int32_t position, const FieldValues& values, const KeyIndex::Probe* key) {
  const uint32_t slot = records_.append(position);
  for (int32_t f = 0; f < schema_.fieldCount; ++f) {
    if (!isIndexed(f)) continue;
    searchTexts_[f].add(slot, values[f]);
    valueHashes_[f].add(slot, searchTexts_[f].valueOf(slot));
  }
  if (keyIndexEnabled_ && schema_.fieldCount > 0) {
    if (keyIndex_.loading()) {
      keyIndex_.load(values[0], position);
    } else {
      keyIndex_.insertAt(key != nullptr ? *key : keyIndex_.probe(values[0]), values[0], position);
    }
  }
  checkSlot(slot, &values);
}

namespace {
bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (upperByte(static_cast<unsigned char>(a[i])) != upperByte(static_cast<unsigned char>(b[i]))) return false;
  return true;
}
}  // namespace

void Database::replaceInMemory(uint32_t slot, const FieldValues& oldValues, const FieldValues& values) {
  for (int32_t f = 0; f < schema_.fieldCount; ++f) {
    if (!isIndexed(f)) continue;
    searchTexts_[f].replace(slot, values[f]);
    // The slot already holds this value when its upper-cased bytes did not change.
    if (!equalIgnoringAsciiCase(oldValues[f], values[f])) valueHashes_[f].add(slot, searchTexts_[f].valueOf(slot));
  }
  checkSlot(slot, &values);
}

void Database::removeFromMemory(uint32_t slot) {
  for (int32_t f = 0; f < schema_.fieldCount; ++f) {
    if (!isIndexed(f)) continue;
    searchTexts_[f].remove(slot);
    valueHashes_[f].remove(slot);
  }
  records_.remove(slot);
  checkSlot(slot, nullptr);
  reclaimSlotsIfMostlyDead();
}

void Database::reclaimSlotsIfMostlyDead() {
  if (!records_.mostlyDeadSlots()) return;
  const std::vector<uint32_t> renumbering = records_.slotRenumbering();
  const auto live = static_cast<uint32_t>(records_.count());
  for (int32_t f = 0; f < schema_.fieldCount; ++f) {
    if (!isIndexed(f)) continue;
    searchTexts_[f].renumberSlots(renumbering, live);
    valueHashes_[f].renumberSlots(renumbering, live);
  }
  records_.renumberSlots(renumbering);
}

void Database::checkSlot([[maybe_unused]] uint32_t slot, [[maybe_unused]] const FieldValues* values) const {
#ifndef NDEBUG
  if (values == nullptr) {
    assert(!records_.isLive(slot));
    return;
  }
  const int32_t position = records_.positionOfSlot(slot);
  uint32_t found = 0;
  assert(records_.loading() || (records_.slotOf(position, found) && found == slot));
  assert(records_.positionAt(records_.recordNumberOf(slot)) == position);
  std::string upper;
  for (int32_t f = 0; f < schema_.fieldCount; ++f) {
    if (!isIndexed(f)) continue;
    upper.assign((*values)[f]);
    upperCase(upper.data(), upper.size());
    assert(searchTexts_[f].valueOf(slot) == upper);
    assert(!valueHashes_[f].built() || valueHashes_[f].leadsTo(upper, slot));
  }
  int32_t keyed = -1;
  if (keyIndexEnabled_ && schema_.fieldCount > 0 && !keyIndex_.loading())
    assert(keyIndex_.lookupKey((*values)[0], keyed) && (records_.loading() || records_.slotOf(keyed, found)));
#endif
}

void Database::releaseLargeScratch() {
  releaseIfLarge(image_);
  releaseIfLarge(previousImage_);
  releaseIfLarge(readBuffer_);
  scratch_.releaseIfLarge();
}

// After a failed write the file may have grown by part of an image; the next
// image still goes at the true end of the file.
void Database::resyncDataEnd() {
  const int64_t size = dataFile_.size();
  if (size > dataEnd_) dataEnd_ = size;
}

bool Database::madeDurable(File& file) {
  unsynced_ = true;
  return sync_ != SyncMode::full || file.sync();
}

bool Database::madeDurable(CachedDataFile& file) {
  unsynced_ = true;
  return sync_ != SyncMode::full || file.sync();
}

bool Database::shutdown() {
  lock_.assertHeld();
  bool durable = true;
  if (open_ && sync_ != SyncMode::off && unsynced_)
    durable = dataFile_.sync() && indexFile_.sync() && schemaFile_.sync();
  // Crash order rule 9: the journal goes with the files it guards, and in
  // CLOSE and FULL its removal reaches the disk with the folder.
  const bool journalWent = journal_.made();
  durable = journal_.remove() && durable;
  if (open_ && sync_ != SyncMode::off && (directoryUnsynced_ || journalWent))
    durable = File::syncDirectoryOf(baseName_) && durable;
  open_ = false;
  dataFile_.close();
  indexFile_.close();
  schemaFile_.close();
  return durable;
}

}  // namespace mero
