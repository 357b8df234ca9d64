// mero compact and mero rekey: rewrite the data file (and for compact the
// index file) as a whole, safely against a kill or power cut at any moment.
// The steps and the recovery that completes them are described with
// recoverInterruptedRewrite.

#include <cinttypes>
#include <cstdio>

#include "engine/record_format.h"
#include "engine/rewrite_recovery.h"
#include "foundation/int32_codec.h"
#include "tool/commands.h"
#include "tool/crash_points.h"
#include "tool/exit_status.h"
#include "tool/key_source.h"
#include "tool/progress_bar.h"
#include "tool/record_cursor.h"
#include "tool/tool_database.h"

namespace mero::tool {

namespace {

// A file written from scratch under its draft name, removed again unless
// the rewrite got as far as committing it.
class DraftFile {
 public:
  explicit DraftFile(std::string path) : path_(std::move(path)) {}
  ~DraftFile() {
    file_.close();
    if (!kept_) File::remove(path_);
  }
  bool create() { return File::remove(path_) && file_.openAppend(path_); }
  bool append(const std::string& bytes) { return bytes.empty() || file_.append(bytes.data(), bytes.size()); }
  // Large appends collect in a buffer and go out a megabyte at a time.
  bool appendBuffered(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() < (1u << 20)) return true;
    const bool ok = append(buffer_);
    buffer_.clear();
    return ok;
  }
  bool writeAt(int64_t offset, const std::string& bytes) { return file_.writeAt(offset, bytes.data(), bytes.size()); }
  bool finish() {
    const bool ok = append(buffer_) && file_.sync();
    buffer_.clear();
    file_.close();
    return ok;
  }
  bool openForPatching() { return file_.openReadWrite(path_); }
  void keep() { kept_ = true; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  File file_;
  std::string buffer_;
  bool kept_ = false;
};

// Live images in record order, back to back from offset 0.
bool writeCompactedData(ToolDatabase& db, DraftFile& out, std::vector<int32_t>& newPositions, int64_t& bytes,
                        bool quiet, std::string& error) {
  RecordCursor reader(db.dataFile(), db.dataSize());
  ProgressBar progress("compact", db.positions().size(), quiet);
  int64_t offset = 0;
  newPositions.reserve(db.positions().size());
  for (const int32_t position : db.positions()) {
    const std::string_view image = reader.rawImage(position, db.schema().fieldCount);
    if (image.empty()) {
      error = "the record at position " + std::to_string(position) + " is damaged (run mero check)";
      return false;
    }
    newPositions.push_back(static_cast<int32_t>(offset));
    offset += static_cast<int64_t>(image.size());
    if (!out.appendBuffered(image)) {
      error = "writing " + out.path() + " failed";
      return false;
    }
    if (newPositions.size() == 1) crashPoint();  // a draft with its first bytes only
    progress.update(newPositions.size());
  }
  bytes = offset;
  return true;
}

std::string indexBytes(const std::vector<int32_t>& positions) {
  std::string bytes(4 + 4 * positions.size(), '\0');
  encodeInt32(static_cast<int32_t>(positions.size()), bytes.data());
  for (size_t r = 0; r < positions.size(); ++r) encodeInt32(positions[r], bytes.data() + 4 + 4 * r);
  return bytes;
}

// The data file copied whole, then every live image re-enciphered in place:
// lengths and positions stay, and so does every byte that is not live.
bool writeRekeyedData(ToolDatabase& db, DraftFile& out, const FieldCipher& oldCipher, const FieldCipher& newCipher,
                      bool quiet, std::string& error) {
  std::string chunk;
  for (int64_t at = 0; at < db.dataSize(); at += static_cast<int64_t>(chunk.size())) {
    chunk.resize(static_cast<size_t>(std::min<int64_t>(db.dataSize() - at, 1 << 20)));
    if (db.dataFile().readAt(at, chunk.data(), chunk.size()) != static_cast<int64_t>(chunk.size()) ||
        !out.append(chunk)) {
      error = "copying the data file failed";
      return false;
    }
    if (at == 0) crashPoint();
  }
  if (!out.finish() || !out.openForPatching()) {
    error = "writing " + out.path() + " failed";
    return false;
  }
  RecordCursor reader(db.dataFile(), db.dataSize());
  ProgressBar progress("rekey", db.positions().size(), quiet);
  FieldValues values;
  std::string image;
  size_t done = 0;
  for (const int32_t position : db.positions()) {
    if (!reader.readRecord(position, db.schema().fieldCount, oldCipher, values)) {
      error = "the record at position " + std::to_string(position) + " is damaged (run mero check)";
      return false;
    }
    encodeRecord(newCipher, values, image);
    if (!out.writeAt(position, image)) {
      error = "writing " + out.path() + " failed";
      return false;
    }
    progress.update(++done);
  }
  return true;
}

// Steps 2 to 4 of a rewrite in place: marker, renames, marker gone.
bool commitInPlace(const std::string& base, std::vector<DraftFile*> drafts, std::string& error) {
  const std::string marker = rewriteMarkerPath(base);
  File markerFile;
  if (!File::syncDirectoryOf(marker) || !markerFile.openAppend(marker) || !markerFile.sync() ||
      !File::syncDirectoryOf(marker)) {
    error = "cannot write the commit marker " + marker;
    File::remove(marker);
    return false;
  }
  markerFile.close();
  crashPoint();
  // From here on the new files are the database: recovery finishes the job.
  for (DraftFile* draft : drafts) {
    draft->keep();
    const std::string& path = draft->path();
    if (!File::rename(path, path.substr(0, path.size() - 4))) {
      error = "cannot rename " + path + "; the next open finishes the rewrite";
      return false;
    }
    crashPoint();
  }
  if (!File::syncDirectoryOf(marker) || !File::remove(marker) || !File::syncDirectoryOf(marker)) {
    error = "cannot remove " + marker + "; the next open finishes the rewrite";
    return false;
  }
  crashPoint();
  return true;
}

int openForRewrite(const CommandLine& line, ToolDatabase& db) {
  std::string error;
  if (const int status = db.open(line.base(), ToolDatabase::Access::exclusive, error); status != kSuccess)
    return fail(status, error);
  if (!db.readSchema(error) || !db.loadPositions(error)) return fail(kUnreadable, error);
  return kSuccess;
}

// compact --into NEWBASE: a new database beside the old one, which stays as it is.
int compactInto(const CommandLine& line, ToolDatabase& db, const std::string& into) {
  const char* const extensions[] = {".dat", ".idx", ".str"};
  for (const char* extension : extensions)
    if (File::exists(into + extension)) return fail(kUsage, into + extension + " exists: choose a new name");
  DraftFile data(into + ".dat.new"), index(into + ".idx.new"), schema(into + ".str.new");
  std::vector<int32_t> positions;
  int64_t bytes = 0;
  std::string error;
  std::string schemaBytes(static_cast<size_t>(std::max<int64_t>(db.schemaFile().size(), 0)), '\0');
  if (db.schemaFile().readAt(0, schemaBytes.data(), schemaBytes.size()) != static_cast<int64_t>(schemaBytes.size()))
    return fail(kUnreadable, "cannot read " + line.base() + ".str");
  if (!data.create() || !index.create() || !schema.create())
    return fail(kProblems, "cannot create the files of " + into);
  if (!writeCompactedData(db, data, positions, bytes, line.flag("--quiet"), error)) return fail(kProblems, error);
  if (!data.finish() || !index.append(indexBytes(positions)) || !index.finish() || !schema.append(schemaBytes) ||
      !schema.finish())
    return fail(kProblems, "writing the files of " + into + " failed");
  // The schema file last: a database is there once its schema file is.
  for (DraftFile* draft : {&data, &index, &schema}) {
    const std::string& path = draft->path();
    if (!File::rename(path, path.substr(0, path.size() - 4))) return fail(kProblems, "cannot rename " + path);
    draft->keep();
  }
  File::syncDirectoryOf(into);
  std::fprintf(stderr, "mero: wrote %zu records to %s; %s is unchanged. Positions in the new database differ.\n",
               positions.size(), into.c_str(), line.base().c_str());
  return kSuccess;
}

}  // namespace

int runCompact(const CommandLine& line) {
  ToolDatabase db;
  if (const int status = openForRewrite(line, db); status != kSuccess) return status;
  if (line.has("--into")) return compactInto(line, db, line.value("--into"));

  const std::string& base = line.base();
  DraftFile data(rewriteDraftPath(base + ".dat")), index(rewriteDraftPath(base + ".idx"));
  std::vector<int32_t> positions;
  int64_t after = 0;
  std::string error;
  if (!data.create() || !index.create()) return fail(kProblems, "cannot create the rewritten files beside " + base);
  if (!writeCompactedData(db, data, positions, after, line.flag("--quiet"), error)) return fail(kProblems, error);
  const int64_t before = db.dataSize();
  crashPoint();
  if (!data.finish() || !index.append(indexBytes(positions)) || !index.finish())
    return fail(kProblems, "writing the rewritten files failed");
  crashPoint();
  db.closeDataAndIndex();  // Windows renames only over files nobody has open
  if (!commitInPlace(base, {&data, &index}, error)) return fail(kProblems, error);
  std::fprintf(stderr,
               "mero: compacted %zu records: data file %" PRId64 " -> %" PRId64
               " bytes. Record positions have changed: positions saved before are no longer valid.\n",
               positions.size(), before, after);
  return kSuccess;
}

int runRekey(const CommandLine& line) {
  std::string oldKey, newKey, error;
  if (!loadKey(line, "--key-file", true, oldKey, error)) return fail(kUsage, error);
  if (!loadKey(line, "--new-key-file", false, newKey, error)) return fail(kUsage, error);
  ToolDatabase db;
  if (const int status = openForRewrite(line, db); status != kSuccess) return status;

  const std::string& base = line.base();
  DraftFile data(rewriteDraftPath(base + ".dat"));
  if (!data.create()) return fail(kProblems, "cannot create " + data.path());
  if (!writeRekeyedData(db, data, FieldCipher(oldKey), FieldCipher(newKey), line.flag("--quiet"), error))
    return fail(kProblems, error);
  crashPoint();
  if (!data.finish()) return fail(kProblems, "writing " + data.path() + " failed");
  crashPoint();
  db.closeDataAndIndex();
  if (!commitInPlace(base, {&data}, error)) return fail(kProblems, error);
  std::fprintf(stderr, "mero: re-enciphered %zu records under the new key; lengths and positions are unchanged\n",
               db.positions().size());
  return kSuccess;
}

}  // namespace mero::tool
