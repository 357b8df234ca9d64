#pragma once
// A rewrite replaces a database's data and index files as a whole (the
// command-line tool's compact and rekey). Its steps, each durable before the
// next begins:
//   1. write the new files beside the old ones as "<file>.new" and sync them;
//   2. create the commit marker "<base>.rewrite" and sync it;
//   3. rename each ".new" file over its old file;
//   4. remove the marker.
// The schema file is never replaced, so the lock on it (see File) holds across
// the renames. The marker decides which state is whole: with it, every
// ".new" file left behind is complete and belongs in place; without it, a
// ".new" file is an unfinished draft. Either way recovery is idempotent, so a
// recovery cut short is simply run again.

#include <string>

namespace mero {

// The extensions of the files a rewrite may replace.
inline constexpr const char* kRewrittenExtensions[] = {".dat", ".idx"};

inline std::string rewriteMarkerPath(const std::string& baseName) { return baseName + ".rewrite"; }
inline std::string rewriteDraftPath(const std::string& path) { return path + ".new"; }

// Finishes (marker present) or rolls back (no marker) a rewrite that a killed
// process left half done; does nothing when none was. Runs before the data
// and index files are opened, with the schema file's lock held. False when a
// file could not be renamed or removed.
bool recoverInterruptedRewrite(const std::string& baseName);

}  // namespace mero
