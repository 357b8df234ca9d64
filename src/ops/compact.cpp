// Compact: the data and index files rewritten with only the live records,
// back to back in record order, while the engine holds the files.

#include "engine/database.h"
#include "engine/draft_file.h"
#include "engine/file_names.h"
#include "engine/index_file.h"
#include "engine/record_order_reader.h"
#include "engine/rewrite_commit.h"
#include "engine/rewrite_recovery.h"

namespace mero {

// The drafts are written and synced from the live images, then committed
// as every rewrite is (rewrite_recovery.h, crash_order.h rule 8), and a new
// engine is opened over whatever the disk then holds, taking over the lock
// on the schema file so that no other open gets in between. A kill at any
// point leaves the old files or the new ones, whole, for the next open.
std::unique_ptr<Database> Database::compact(std::unique_ptr<Database> db, Compaction& out) {
  out = Compaction{};
  if (!db->open_) {
    out.error = "the database is closed";
    return db;
  }
  const std::string base = db->baseName_;
  out.oldPositions = db->records_.positionList();
  DraftFile data(rewriteDraftPath(dataFileName(base)));
  DraftFile index(rewriteDraftPath(indexFileName(base)));
  if (!data.create() || !index.create()) {
    out.error = "cannot create the rewritten files beside " + base + ": " + File::lastErrorText();
    return db;
  }
  RecordOrderReader reader(db->dataFile_, db->dataEnd_, out.oldPositions, db->schema_.fieldCount);
  int64_t offset = 0;
  out.newPositions.reserve(out.oldPositions.size());
  for (size_t r = 0; r < out.oldPositions.size(); ++r) {
    const int32_t position = out.oldPositions[r];
    const std::string_view image = reader.rawImage(r);
    if (image.empty()) {
      out.error = "the record at position " + std::to_string(position) + " of " + base + ".dat does not read";
      return db;
    }
    out.newPositions.push_back(static_cast<int32_t>(offset));
    offset += static_cast<int64_t>(image.size());
    if (!data.appendBuffered(image)) {
      out.error = "writing " + data.path() + " failed: " + File::lastErrorText();
      return db;
    }
  }
  const auto count = static_cast<int32_t>(out.newPositions.size());
  const std::string entries =
      encodeEntries(&count, 1) + encodeEntries(out.newPositions.data(), out.newPositions.size());
  // In OFF no file is synced before close, so the files kept when the
  // commit fails need not be either.
  if (!data.finish() || !index.append(entries) || !index.finish() || (db->sync_ != SyncMode::off && !db->syncFiles())) {
    out.error = "writing the rewritten files beside " + base + " failed: " + File::lastErrorText();
    return db;
  }

  // The journal goes before the data file it describes is replaced; the
  // commit syncs the folder, and so its removal, before it renames
  // (crash order rule 17).
  if (!db->journal_.remove()) {
    out.error = "cannot remove the journal of " + base + ": " + File::lastErrorText();
    return db;
  }
  // The old engine lets go of its data and index files, keeping the schema
  // file and its lock for the new one.
  const std::string key(db->cipher_.reversedKey().rbegin(), db->cipher_.reversedKey().rend());
  const bool useKeyIndex = db->keyIndexEnabled_;
  const SyncMode sync = db->sync_;
  File schemaFile = std::move(db->schemaFile_);
  db->open_ = false;
  db->dataFile_.close();
  db->indexFile_.close();
  db.reset();
  std::string commitError;
  const bool committed = commitRewrite(base, {&data, &index}, commitError);
  CreatedFiles created;
  OpenRefusal refusal;
  std::unique_ptr<Database> reopened = openHeld(base, key, useKeyIndex, sync, schemaFile, created, refusal);
  out.reopen = refusal.failure;
  out.committed = reopened != nullptr && reopened->records_.positionList() == out.newPositions;
  if (!committed && !out.committed) out.error = commitError;
  return reopened;
}

}  // namespace mero
