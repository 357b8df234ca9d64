#pragma once
// Database: the engine of one open database. It owns the three open files,
// the schema, the key, the live-record table, the search text and value hash
// of each indexed field, the key index, and a lock of its own.
//
// Every record operation runs with lock() held by its caller, which debug
// builds assert. Each change is written to the files before the operation
// returns, in the order of crash_order.h that a killed process can recover
// from, and memory is changed only after every write has succeeded (crash
// order rule 6), so a failed write leaves memory and the files agreeing on
// the state before the call.
//
// After shutdown() the object stays valid for callers that still hold it,
// but every operation answers its failure result.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cached_data_file.h"
#include "engine/data_file_reader.h"
#include "engine/field_cipher.h"
#include "engine/field_values.h"
#include "engine/key_index.h"
#include "engine/open_failure.h"
#include "engine/record_table.h"
#include "engine/recovery_report.h"
#include "engine/rollback_journal.h"
#include "engine/schema.h"
#include "engine/search_text.h"
#include "engine/sync_mode.h"
#include "engine/value_hash_index.h"
#include "platform/file.h"
#include "platform/lock.h"

namespace mero {

enum class WriteStatus : int32_t {
  appended = 0,
  wrongFieldCount = 1,
  duplicateKey = 2,
  notStored = 3,  // a write failed, or a size limit would be passed
};

class Database {
 public:
  // Opens the three files of baseName (file_names.h), creating any
  // that is missing, and rebuilds the in-memory state. The files are held
  // exclusively until shutdown(): one engine per set of files, since two
  // would each append at what they believe is the end. What a power cut left
  // is taken back first (power_cut_recovery.h) and told in recovery(). Null
  // when a file cannot be opened or holds damage that open cannot repair;
  // then `refusal` says why, of which file, with the system's error (and
  // describe() says it in words), nothing was written, and any file this
  // call created is removed again.
  // `sync` says how durable each change is before its call returns.
  static std::unique_ptr<Database> open(const std::string& baseName, std::string_view key, bool useKeyIndex,
                                        OpenRefusal& refusal, SyncMode sync = SyncMode::close);
  // The same, telling only the reason (when `failure` is given).
  static std::unique_ptr<Database> open(const std::string& baseName, std::string_view key, bool useKeyIndex,
                                        OpenFailure* failure = nullptr, SyncMode sync = SyncMode::close);

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  Lock& lock() { return lock_; }
  // Closes the files, in CLOSE and FULL first making them durable; false
  // when that failed (the files are closed either way). The caller holds lock().
  bool shutdown();
  bool isOpen() const { return open_; }
  // What this open dropped after a power cut; empty() when nothing.
  const RecoveryReport& recovery() const { return recovery_; }

  // Makes the three files, and the folder when a file came or went since
  // open, durable now, whatever the sync mode. The caller holds lock().
  bool syncFiles();

  // How much of the files the live records take.
  struct Usage {
    int32_t records = 0;
    int64_t liveBytes = 0;  // the live records' images in the data file
    int64_t dataBytes = 0;  // the data file; dataBytes - liveBytes is dead
    int64_t indexBytes = 0;
    int64_t schemaBytes = 0;
  };
  // Reads the length of every live image. False when a read failed. The
  // caller holds lock().
  bool usage(Usage& out) const;

  enum class BackupOutcome { copied, targetExists, targetIsSource, targetInUse, failed };
  // Copies the three files as they stand into a new database at target
  // (its schema, data and index files), made whole or not at all (new_database.h):
  // every byte is copied, so positions read the same records in the copy.
  // Refuses when target's files exist or are this database's own, or when
  // another maker holds target; `error` says why. The caller holds lock(),
  // so the copy is of one moment.
  BackupOutcome backupTo(const std::string& target, std::string& error);

  // What compact() did.
  struct Compaction {
    std::vector<int32_t> oldPositions;       // by record number, before
    std::vector<int32_t> newPositions;       // by record number, in the rewritten files
    bool committed = false;                  // the engine returned stands on the rewritten files
    OpenFailure reopen = OpenFailure::none;  // why no engine came back
    std::string error;                       // why the rewrite did not commit
  };
  // Rewrites the data and index files with only the live records, back to
  // back in record order, crash-safely (rewrite_recovery.h): record numbers
  // stay, positions change. Takes `db` outright: no other thread may reach
  // it. Returns the engine to use from now on: `db` itself, unchanged, when
  // the rewrite failed before its commit; otherwise a new engine over the
  // files as the disk then holds them, which took over the files' lock, or
  // null when that open failed (`out.reopen` says why).
  static std::unique_ptr<Database> compact(std::unique_ptr<Database> db, Compaction& out);

  // Record operations; the caller holds lock().
  int32_t numRecs() const;
  bool getRecord(int32_t position, FieldValues& out) const;
  bool getRecordByKey(std::string_view key, FieldValues& out) const;
  int32_t getPos(std::string_view key) const;
  // `position` (when given) receives the new record's position on success.
  WriteStatus write(const FieldValues& values, int32_t* position = nullptr);
  // Appends the records as one change: all of them or, when any is refused
  // or a write fails, none. `positions` receives theirs; `failedAt` (when
  // given) the record that a refusal concerns.
  WriteStatus appendBatch(const std::vector<FieldValues>& batch, std::vector<int32_t>& positions,
                          size_t* failedAt = nullptr);
  std::vector<int32_t> find(const std::vector<uint8_t>& partial, const FieldValues& terms) const;
  // `newPosition` (when given) receives where the record stands afterwards.
  bool updateRecord(int32_t position, const FieldValues& values, int32_t* newPosition = nullptr);
  bool deleteRecord(int32_t position);

  // Read-only views of the structures, for the consistency check of the
  // tests and for tools; record operations never need them.
  int32_t fieldCount() const { return schema_.fieldCount; }
  const Schema& schema() const { return schema_; }
  bool keyIndexEnabled() const { return keyIndexEnabled_; }
  const RecordTable& records() const { return records_; }
  bool isIndexed(int32_t field) const { return indexed_[static_cast<size_t>(field)] != 0; }
  const KeyIndex& keyIndex() const { return keyIndex_; }
  const SearchText& searchText(int32_t field) const { return searchTexts_[static_cast<size_t>(field)]; }
  const ValueHashIndex& valueHashes(int32_t field) const { return valueHashes_[static_cast<size_t>(field)]; }
  const FieldCipher& cipher() const { return cipher_; }
  int64_t dataFileSize() const { return dataEnd_; }
  SyncMode syncMode() const { return sync_; }

 private:
  Database(Schema schema, std::string_view key, bool useKeyIndex, SyncMode sync, std::string baseName);
  // The files an open created, removed again when it refuses.
  class CreatedFiles {
   public:
    // Opens the file at path for reading and writing, creating it (and noting
    // that) when it is missing.
    bool openOrCreate(const std::string& path, File& file) {
      bool made = false;
      if (!File::createIfMissing(path, &made)) return false;
      if (made) paths_.push_back(path);
      return file.openReadWrite(path);
    }
    void keep() { paths_.clear(); }
    bool madeAny() const { return !paths_.empty(); }
    ~CreatedFiles() {
      for (const std::string& path : paths_) File::remove(path);
    }

   private:
    std::vector<std::string> paths_;
  };
  // open() from the point where the schema file is open and locked: the
  // lock passes to the engine returned, and goes with schemaFile otherwise.
  static std::unique_ptr<Database> openHeld(const std::string& baseName, std::string_view key, bool useKeyIndex,
                                            SyncMode sync, File& schemaFile, CreatedFiles& created,
                                            OpenRefusal& refusal);
  // Reads the kept entries' records; those whose bytes never reached the
  // disk are dropped into recovery_, other damage refuses, naming the record
  // and its fault in refusal.
  OpenFailure rebuild(const std::vector<int32_t>& positions, const std::vector<int32_t>& numbers, int64_t lastStart,
                      OpenRefusal& refusal);
  // The field's value hash, built first if no search has needed it yet.
  const ValueHashIndex& builtValueHashes(int32_t field) const;
  // Whether the in-memory search structures can take these values.
  bool fitsInMemory(const FieldValues& values) const;

  // The four in-memory structures describe the same live records, and they
  // change together only in the three functions below, after the files:
  //   records_          a live slot s stands at positionOfSlot(s), which is
  //                     positions[recordNumberOf(s)];
  //   searchTexts_[f]   for each indexed field f, valueOf(s) is the value
  //                     upper-cased;
  //   valueHashes_[f]   once built, the value searchTexts_[f].valueOf(s)
  //                     leads to s;
  //   keyIndex_         every entry points at a live record whose first
  //                     field is its key.
  // Debug builds assert this for the slot that changed (checkSlot).
  void addToMemory(int32_t position, const FieldValues& values, const KeyIndex::Probe* key = nullptr);
  void replaceInMemory(uint32_t slot, const FieldValues& oldValues, const FieldValues& values);
  void removeFromMemory(uint32_t slot);
  // Once deleted records' slots outnumber the live ones, every structure
  // indexed by slot takes the live slots' new numbers at once.
  void reclaimSlotsIfMostlyDead();
  void checkSlot(uint32_t slot, const FieldValues* values) const;
  // Gives back scratch that a record of over a MiB left behind, when an
  // operation ends, on every path.
  void releaseLargeScratch();
  struct ScratchRelease {
    Database& db;
    ~ScratchRelease() { db.releaseLargeScratch(); }
  };
  // Most records fit in one small read; longer ones take a second. The
  // buffer is kept, so a read allocates nothing.
  DataFileReader singleRecordReader() const { return DataFileReader(dataFile_, dataEnd_, 512, readBuffer_); }
  // The same, through the data file's read cache: for the records that the
  // key index and the positions list point at (read by key, the old image
  // of an update or a delete). A read by position may name any offset and
  // reads the file itself.
  DataFileReader cachedRecordReader() const {
    return DataFileReader(dataFile_, dataEnd_, 512, readBuffer_, &dataFile_.cache());
  }
  void resyncDataEnd();
  // In FULL, makes the file's writes durable; in the other modes notes that
  // shutdown has something to sync. False when the sync failed.
  bool madeDurable(File& file);
  bool madeDurable(CachedDataFile& file);
  // Writes image over the one at offset (previous), through the rollback
  // journal when the write could be torn; on failure the previous image is
  // put back. Rule 12 of crash_order.h.
  bool writeInPlace(int64_t offset, const std::string& previous, const std::string& image);

  Schema schema_;
  FieldCipher cipher_;
  bool keyIndexEnabled_;
  bool open_ = true;
  SyncMode sync_;
  std::string baseName_;
  RollbackJournal journal_;         // made at the first guarded write, removed by shutdown
  bool unsynced_ = false;           // written since open: shutdown syncs (CLOSE)
  bool directoryUnsynced_ = false;  // a file came or went since open: shutdown syncs the folder
  CachedDataFile dataFile_;         // every write of the data file goes through it
  File indexFile_;
  File schemaFile_;
  int64_t dataEnd_ = 0;  // size of the data file: where the next image goes
  RecoveryReport recovery_;
  RecordTable records_;
  KeyIndex keyIndex_;
  std::vector<uint8_t> indexed_;         // per field: 1 when its values are searched in memory
  std::vector<SearchText> searchTexts_;  // per field; used for indexed fields
  // Per field; used for indexed fields. Built at the first whole-value search
  // of the field, which may be a const call.
  mutable std::vector<ValueHashIndex> valueHashes_;
  std::vector<uint8_t> keyAndIndexedFields_;  // the fields a rebuild or a key removal deciphers
  Lock lock_;

  // Scratch reused by operations under the lock, so hot paths do not allocate.
  std::string image_;
  std::string previousImage_;
  FieldValues scratch_;
  mutable std::string readBuffer_;              // single-record reads, which are const
  std::vector<PositionChunks::Run> entryRuns_;  // a delete's entries from the deleted one on
};

}  // namespace mero
