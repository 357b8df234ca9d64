// Backup: a copy of the three files, as they stand, made into a new
// database whole or not at all, while the engine holds them.

#include <algorithm>

#include "engine/database.h"
#include "engine/draft_file.h"
#include "engine/file_names.h"
#include "engine/new_database.h"

namespace mero {

namespace {
// Bytes [0, size) of from appended to the draft, a megabyte at a time.
bool copyInto(const File& from, int64_t size, DraftFile& to) {
  std::string chunk;
  for (int64_t at = 0; at < size; at += static_cast<int64_t>(chunk.size())) {
    chunk.resize(static_cast<size_t>(std::min<int64_t>(size - at, int64_t{1} << 20)));
    if (from.readAt(at, chunk.data(), chunk.size()) != static_cast<int64_t>(chunk.size()) || !to.append(chunk))
      return false;
  }
  return true;
}
}  // namespace

// The caller holds the lock, so no change is half made in the copy and no
// rollback journal exists. The copy keeps every byte, so positions read
// the same records in it; it is committed as every new database is
// (new_database.h), so a crash leaves no partial copy behind.
Database::BackupOutcome Database::backupTo(const std::string& target, std::string& error) {
  if (!open_) {
    error = "the database is closed";
    return BackupOutcome::failed;
  }
  FileIdentity source;
  FileIdentity named;
  if (schemaFile_.identify(source) && File::identify(schemaFileName(target), named) && source.sameFile(named)) {
    error = target + " is this database itself";
    return BackupOutcome::targetIsSource;
  }
  NewDatabase made(target);
  switch (made.claim(error)) {
    case NewDatabase::Outcome::done:
      break;
    case NewDatabase::Outcome::exists:
      return BackupOutcome::targetExists;
    case NewDatabase::Outcome::inUse:
      return BackupOutcome::targetInUse;
    case NewDatabase::Outcome::failed:
      return BackupOutcome::failed;
  }
  DraftFile data(made.draftPath(kDataExtension));
  DraftFile index(made.draftPath(kIndexExtension));
  const int64_t indexSize = indexFile_.size();
  const int64_t schemaSize = schemaFile_.size();
  std::string schemaBytes(static_cast<size_t>(std::max<int64_t>(schemaSize, 0)), '\0');
  if (indexSize < 0 || schemaSize < 0 || schemaFile_.readAt(0, schemaBytes.data(), schemaBytes.size()) != schemaSize ||
      !data.create() || !index.create() || !copyInto(dataFile_, dataEnd_, data) ||
      !copyInto(indexFile_, indexSize, index) || !data.finish() || !index.finish()) {
    error = "copying the files to " + target + " failed: " + File::lastErrorText();
    return BackupOutcome::failed;
  }
  data.keep();  // from here on the commit decides what becomes of them
  index.keep();
  switch (made.commit(schemaBytes, error)) {
    case NewDatabase::Outcome::done:
      return BackupOutcome::copied;
    case NewDatabase::Outcome::inUse:
    case NewDatabase::Outcome::exists:
      return BackupOutcome::targetInUse;
    case NewDatabase::Outcome::failed:
      return BackupOutcome::failed;
  }
  return BackupOutcome::failed;
}

}  // namespace mero
