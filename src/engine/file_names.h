#pragma once
// The names of a database's files, all made from its base name. These are
// the only spellings of the extensions in the library: the files' names are
// as much a part of the interface as their bytes.
//   <base>.str          the schema file (schema.h); its lock stands for the set
//   <base>.dat          the data file (record_format.h)
//   <base>.idx          the index file (index_file.h)
//   <file>.new          a rewrite's or creation's draft of <file> (rewrite_recovery.h)
//   <base>.rewrite      the commit marker of a rewrite or creation
//   <base>.journal      the rollback journal of a torn-prone write (rollback_journal.h)
//   <base>.mero-import  the scratch database the tool's import fills before its commit

#include <string>
#include <string_view>

namespace mero {

inline constexpr char kSchemaExtension[] = ".str";
inline constexpr char kDataExtension[] = ".dat";
inline constexpr char kIndexExtension[] = ".idx";

// The three files of a database, schema file first.
inline constexpr const char* kDatabaseExtensions[] = {kSchemaExtension, kDataExtension, kIndexExtension};
// The files a rewrite may replace; the schema file never is.
inline constexpr const char* kRewrittenExtensions[] = {kDataExtension, kIndexExtension};

inline std::string schemaFileName(const std::string& baseName) { return baseName + kSchemaExtension; }
inline std::string dataFileName(const std::string& baseName) { return baseName + kDataExtension; }
inline std::string indexFileName(const std::string& baseName) { return baseName + kIndexExtension; }

inline constexpr char kDraftSuffix[] = ".new";

// The draft that replaces `path` when a rewrite commits.
inline std::string rewriteDraftPath(const std::string& path) { return path + kDraftSuffix; }
// The file a draft replaces: rewriteDraftPath's inverse. A path that is not a
// draft's is returned as it is.
inline std::string draftTarget(const std::string& draftPath) {
  const std::string_view suffix = kDraftSuffix;
  if (draftPath.size() < suffix.size() ||
      draftPath.compare(draftPath.size() - suffix.size(), suffix.size(), suffix) != 0)
    return draftPath;
  return draftPath.substr(0, draftPath.size() - suffix.size());
}

inline std::string rewriteMarkerPath(const std::string& baseName) { return baseName + ".rewrite"; }
inline std::string rollbackJournalPath(const std::string& baseName) { return baseName + ".journal"; }
inline std::string importScratchBase(const std::string& baseName) { return baseName + ".mero-import"; }

// The base name a path names when it is one of the three files ("db.str"
// names db), or the path itself when it is not.
inline std::string baseNameOfFile(const std::string& path) {
  for (const std::string_view extension : kDatabaseExtensions) {
    if (path.size() > extension.size() &&
        path.compare(path.size() - extension.size(), extension.size(), extension) == 0)
      return path.substr(0, path.size() - extension.size());
  }
  return path;
}

}  // namespace mero
