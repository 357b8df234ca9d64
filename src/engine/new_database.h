#pragma once
// A new database made whole or not at all: the tool's import, compact
// --into and recover, and the engine's backup. Its files are written as
// drafts beside their final names and put in place as one commit (see
// rewrite_recovery.h), so a maker that fails or is killed never leaves a
// partial database, and the renames never replace a file that appeared
// meanwhile.
//
// From claim() to the end, the draft of the schema file is
// held with an exclusive lock. Renamed first into place, it carries that
// lock with it: an engine opening NEW during the commit is refused, and two
// makers of the same NEW cannot both succeed. A draft whose lock nobody
// holds is a killed maker's leftover, which claim() finishes (when its
// commit marker vouches for it) or removes.

#include <string>

#include "engine/file_names.h"
#include "platform/file.h"

namespace mero {

class NewDatabase {
 public:
  enum class Outcome {
    done,
    exists,  // NEW's files exist (or a cut-short commit, now finished, made them)
    inUse,   // another maker or an engine holds NEW
    failed,  // a file operation failed; File::lastErrorText() is in the message
  };

  // `maker` names other makers in messages ("another mero command"); `step`
  // (when given) runs after each step of the commit, so a test can end the
  // process there.
  explicit NewDatabase(std::string base, std::string maker = "another program", void (*step)() = nullptr);
  ~NewDatabase();
  NewDatabase(const NewDatabase&) = delete;
  NewDatabase& operator=(const NewDatabase&) = delete;

  // Refuses when NEW's files exist or another maker is making NEW; clears a
  // killed maker's leftovers, then creates and locks the schema file's draft.
  Outcome claim(std::string& error);
  // Where the data and index files are to be written, complete and synced,
  // before commit(). A scratch base beside NEW, for an engine that writes
  // a whole database (import), is removed with the drafts.
  std::string draftPath(const std::string& extension) const;
  std::string scratchBase() const { return importScratchBase(base_); }
  // Writes the schema bytes, then the marker, then puts every file in place.
  Outcome commit(const std::string& schemaBytes, std::string& error);

 private:
  void removeDrafts();
  void stepDone() const {
    if (step_ != nullptr) step_();
  }

  std::string base_;
  std::string maker_;
  void (*step_)();
  File schemaDraft_;
  bool claimed_ = false;
  bool committed_ = false;
};

}  // namespace mero
