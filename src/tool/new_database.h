#pragma once
// A new database made by import, compact --into and recover: its files are
// written as drafts beside their final names and put in place as one commit
// (see rewrite_recovery.h), so a command that fails or is killed never
// leaves a partial database, and the renames never replace a file that
// appeared meanwhile.
//
// From claim() to the end, the draft of the schema file (NEW.str.new) is
// held with an exclusive lock. Renamed first into place, it carries that
// lock with it: an engine opening NEW during the commit is refused, and two
// commands making the same NEW cannot both succeed. A draft whose lock
// nobody holds is a killed command's leftover, which claim() finishes (when
// its commit marker vouches for it) or removes.

#include <string>

#include "engine/file_names.h"
#include "platform/file.h"

namespace mero::tool {

class NewDatabase {
 public:
  explicit NewDatabase(std::string base);
  ~NewDatabase();
  NewDatabase(const NewDatabase&) = delete;
  NewDatabase& operator=(const NewDatabase&) = delete;

  // Refuses (an exit status with a message) when NEW's files exist or
  // another command is making NEW; clears a killed command's leftovers,
  // then creates and locks the schema file's draft.
  int claim(std::string& error);
  // Where the data and index files are to be written, complete and synced,
  // before commit(). A scratch base beside NEW, for an engine that writes
  // a whole database (import), is removed with the drafts.
  std::string draftPath(const std::string& extension) const;
  std::string scratchBase() const { return importScratchBase(base_); }
  // Writes the schema bytes, then the marker, then puts every file in place.
  // Returns an exit status.
  int commit(const std::string& schemaBytes, std::string& error);

 private:
  void removeDrafts();

  std::string base_;
  File schemaDraft_;
  bool claimed_ = false;
  bool committed_ = false;
};

}  // namespace mero::tool
