#pragma once
// A rewrite replaces a database's data and index files as a whole (the
// command-line tool's compact and rekey, Database::compact; the commit is
// rewrite_commit.h); a creation puts a new database's
// three files in place (the tool's import, compact --into and recover).
// Their steps, each durable before the next begins:
//   1. write the new files beside the old ones as drafts and sync them;
//   2. create the commit marker, naming the files it belongs
//      to, and sync it;
//   3. rename each draft over its old file (a creation renames its
//      schema file first, never over an existing file, and holds its lock);
//   4. remove the marker.
// The schema file is never replaced in place, so the lock on it (see File)
// holds across the renames. The marker decides which state is whole: with it,
// every draft left behind is complete and belongs in place; without it,
// a draft is unfinished. Either way recovery is idempotent, so
// a recovery cut short is simply run again.
//
// The marker notes the identity (see FileIdentity) of the schema file, and of
// each file to be replaced and its draft, as they were when it was written. A
// marker whose files are no longer those (a backup restored over a killed
// rewrite's leftovers) belongs to nothing: it is removed with its drafts,
// and the files are left as they are.

#include <string>
#include <vector>

#include "engine/file_names.h"  // the drafts' and the marker's names

namespace mero {

// The marker's text for a rewrite of baseName that replaces the files of
// `extensions` by their drafts, from the files as they are now. For a
// creation, the schema file noted is the schema file's draft. False when a
// draft or the schema file cannot be examined.
bool describeRewrite(const std::string& baseName, const std::vector<std::string>& extensions, bool creation,
                     std::string& text);

// Finishes (a marker that matches the files) or rolls back (no marker, or
// one that no longer matches) a rewrite that a killed process left half
// done; does nothing when none was. Runs before the data and index files are
// opened, with the schema file's lock held. False when a file could not be
// renamed or removed.
bool recoverInterruptedRewrite(const std::string& baseName);

// A creation cut short before its schema file was in place: with a marker
// that matches the drafts, the schema file's draft is moved into place and
// the rest finished; otherwise every draft is removed. The caller holds the
// exclusive lock on the schema file's draft. False when a file could not be
// renamed or removed.
bool recoverInterruptedCreation(const std::string& baseName);

}  // namespace mero
