#include "engine/rewrite_recovery.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/file.h"

namespace mero {

namespace {

// Marker text, one line per file:
//   "mero-rewrite 2"
//   <schema extension> <identity>                    the schema file (or its draft)
//   <extension> <identity or -> > <draft identity>   a file replaced, and its draft
// An identity is "volume id size modified"; "-" is a file that was missing.
constexpr const char* kMarkerHeader = "mero-rewrite 2";

std::string identityText(const FileIdentity& id) {
  char text[96];
  std::snprintf(text, sizeof text, "%" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64, id.volume, id.id, id.size,
                id.modified);
  return text;
}

bool parseIdentity(const char*& at, bool& present, FileIdentity& id) {
  while (*at == ' ') ++at;
  if (*at == '-') {
    ++at;
    present = false;
    return true;
  }
  int used = 0;
  present = true;
  if (std::sscanf(at, "%" SCNu64 " %" SCNu64 " %" SCNd64 " %" SCNd64 "%n", &id.volume, &id.id, &id.size, &id.modified,
                  &used) != 4)
    return false;
  at += used;
  return true;
}

struct NotedFile {
  std::string extension;
  bool oldPresent = false;
  FileIdentity old;
  FileIdentity draft;
};

struct Marker {
  FileIdentity schema;
  std::vector<NotedFile> files;
};

enum class MarkerState { missing, legacy, readable, unreadable };

MarkerState readMarker(const std::string& path, Marker& marker) {
  if (!File::exists(path)) return MarkerState::missing;
  File file;
  if (!file.openReadWrite(path)) return MarkerState::unreadable;
  const int64_t size = file.size();
  // A marker of an earlier version is empty: it vouches for the drafts as
  // they stand.
  if (size == 0) return MarkerState::legacy;
  if (size < 0 || size > 4096) return MarkerState::unreadable;
  std::string text(static_cast<size_t>(size), '\0');
  if (file.readAt(0, text.data(), text.size()) != size) return MarkerState::unreadable;
  size_t lineStart = 0;
  bool headerSeen = false, schemaSeen = false;
  while (lineStart < text.size()) {
    size_t end = text.find('\n', lineStart);
    if (end == std::string::npos) return MarkerState::unreadable;  // cut short
    const std::string line = text.substr(lineStart, end - lineStart);
    lineStart = end + 1;
    if (!headerSeen) {
      if (line != kMarkerHeader) return MarkerState::unreadable;
      headerSeen = true;
      continue;
    }
    const size_t space = line.find(' ');
    if (space == std::string::npos) return MarkerState::unreadable;
    const std::string extension = line.substr(0, space);
    const char* at = line.c_str() + space;
    bool present = false;
    if (extension == kSchemaExtension) {
      if (!parseIdentity(at, present, marker.schema) || !present) return MarkerState::unreadable;
      schemaSeen = true;
      continue;
    }
    NotedFile noted;
    noted.extension = extension;
    bool draftPresent = false;
    if (!parseIdentity(at, noted.oldPresent, noted.old) || std::strncmp(at, " >", 2) != 0)
      return MarkerState::unreadable;
    at += 2;
    if (!parseIdentity(at, draftPresent, noted.draft) || !draftPresent) return MarkerState::unreadable;
    marker.files.push_back(noted);
  }
  return headerSeen && schemaSeen ? MarkerState::readable : MarkerState::unreadable;
}

// Whether the files are still those the marker names: the schema file, and
// for each replaced file either the old one beside its draft (not renamed
// yet) or the draft in its place (renamed).
bool markerMatches(const std::string& baseName, const Marker& marker) {
  FileIdentity now;
  if (!File::identify(schemaFileName(baseName), now) || !(now == marker.schema)) return false;
  for (const NotedFile& noted : marker.files) {
    const std::string path = baseName + noted.extension;
    FileIdentity current, draft;
    const bool currentPresent = File::identify(path, current);
    if (File::identify(rewriteDraftPath(path), draft)) {
      if (!(draft == noted.draft) || currentPresent != noted.oldPresent) return false;
      if (currentPresent && !(current == noted.old)) return false;
    } else if (!currentPresent || !(current == noted.draft)) {
      return false;
    }
  }
  return true;
}

bool removeDrafts(const std::string& baseName) {
  bool ok = true;
  for (const char* extension : kRewrittenExtensions) ok = File::remove(rewriteDraftPath(baseName + extension)) && ok;
  return ok;
}

}  // namespace

bool describeRewrite(const std::string& baseName, const std::vector<std::string>& extensions, bool creation,
                     std::string& text) {
  FileIdentity id;
  const std::string schema = schemaFileName(baseName);
  if (!File::identify(creation ? rewriteDraftPath(schema) : schema, id)) return false;
  text = std::string(kMarkerHeader) + "\n" + kSchemaExtension + " " + identityText(id) + "\n";
  for (const std::string& extension : extensions) {
    const std::string path = baseName + extension;
    text += extension + " ";
    text += File::identify(path, id) ? identityText(id) : "-";
    if (!File::identify(rewriteDraftPath(path), id)) return false;
    text += " > " + identityText(id) + "\n";
  }
  return true;
}

bool recoverInterruptedRewrite(const std::string& baseName) {
  const std::string marker = rewriteMarkerPath(baseName);
  Marker noted;
  const MarkerState state = readMarker(marker, noted);
  const bool committed =
      state == MarkerState::legacy || (state == MarkerState::readable && markerMatches(baseName, noted));
  if (state == MarkerState::missing && !File::exists(rewriteDraftPath(dataFileName(baseName))) &&
      !File::exists(rewriteDraftPath(indexFileName(baseName))))
    return true;
  bool ok = true;
  if (committed) {
    for (const char* extension : kRewrittenExtensions) {
      const std::string path = baseName + extension;
      const std::string draft = rewriteDraftPath(path);
      if (File::exists(draft)) ok = File::rename(draft, path) && ok;
    }
  } else {
    ok = removeDrafts(baseName);
  }
  if (state == MarkerState::missing || !ok) return ok;
  // The renames must be on the disk before the marker that vouches for them
  // goes; a marker that matched nothing goes once its drafts have.
  return File::syncDirectoryOf(marker) && File::remove(marker) && File::syncDirectoryOf(marker);
}

bool recoverInterruptedCreation(const std::string& baseName) {
  const std::string schema = schemaFileName(baseName);
  const std::string schemaDraft = rewriteDraftPath(schema);
  Marker noted;
  FileIdentity draft;
  if (readMarker(rewriteMarkerPath(baseName), noted) == MarkerState::readable && !File::exists(schema) &&
      File::identify(schemaDraft, draft) && draft == noted.schema) {
    if (!File::renameNoReplace(schemaDraft, schema)) return false;
    return recoverInterruptedRewrite(baseName);
  }
  // Nothing vouches for the drafts: none of them is in place, so they go.
  const bool ok = removeDrafts(baseName) && File::remove(schemaDraft);
  return ok && (!File::exists(schema) ? File::remove(rewriteMarkerPath(baseName)) : true);
}

}  // namespace mero
