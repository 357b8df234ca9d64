// mero compact and mero rekey: rewrite the data file (and for compact the
// index file) as a whole, safely against a kill or power cut at any moment.
// The steps and the recovery that completes them are described with
// recoverInterruptedRewrite. A rewrite first makes check's structural check
// and refuses a damaged database: copied, damage would be cut short or
// doubled, and a missing index would turn a data file into an empty one.

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "engine/draft_file.h"
#include "engine/file_names.h"
#include "engine/index_file.h"
#include "engine/record_format.h"
#include "engine/record_order_reader.h"
#include "engine/rewrite_commit.h"
#include "engine/rewrite_recovery.h"
#include "foundation/int32_codec.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/crash_points.h"
#include "tool/exit_status.h"
#include "tool/key_source.h"
#include "tool/new_database.h"
#include "tool/progress_bar.h"
#include "tool/structure_check.h"
#include "tool/tool_database.h"

namespace mero::tool {

namespace {

// Live images in record order, back to back from offset 0.
bool writeCompactedData(ToolDatabase& db, DraftFile& out, std::vector<int32_t>& newPositions, int64_t& bytes,
                        bool quiet, std::string& error) {
  RecordOrderReader reader(db.dataFile(), db.dataSize(), db.positions(), db.schema().fieldCount);
  ProgressBar progress("compact", db.positions().size(), quiet);
  int64_t offset = 0;
  newPositions.reserve(db.positions().size());
  for (size_t r = 0; r < db.positions().size(); ++r) {
    const int32_t position = db.positions()[r];
    const std::string_view image = reader.rawImage(r);
    if (image.empty()) {
      error = "the record at position " + std::to_string(position) + " is damaged: " + describe(reader.damageAt(r)) +
              " (run mero check)";
      return false;
    }
    newPositions.push_back(static_cast<int32_t>(offset));
    offset += static_cast<int64_t>(image.size());
    if (!out.appendBuffered(image)) {
      error = "writing the new data file failed: " + File::lastErrorText();
      return false;
    }
    if (newPositions.size() == 1) crashPoint();  // a draft with its first bytes only
    progress.update(newPositions.size());
  }
  bytes = offset;
  return true;
}

// The data file copied whole, then every live image re-enciphered in place:
// lengths and positions stay, and so does every byte that is not live.
int writeRekeyedData(ToolDatabase& db, DraftFile& out, const FieldCipher& oldCipher, const FieldCipher& newCipher,
                     bool quiet, std::string& error) {
  std::string chunk;
  for (int64_t at = 0; at < db.dataSize(); at += static_cast<int64_t>(chunk.size())) {
    chunk.resize(static_cast<size_t>(std::min<int64_t>(db.dataSize() - at, 1 << 20)));
    if (db.dataFile().readAt(at, chunk.data(), chunk.size()) != static_cast<int64_t>(chunk.size()) ||
        !out.append(chunk)) {
      error = "copying the data file failed: " + File::lastErrorText();
      return kWriteFailed;
    }
    if (at == 0) crashPoint();
  }
  if (!out.finish() || !out.openForPatching()) {
    error = "writing the new data file failed: " + File::lastErrorText();
    return kWriteFailed;
  }
  RecordOrderReader reader(db.dataFile(), db.dataSize(), db.positions(), db.schema().fieldCount);
  ProgressBar progress("rekey", db.positions().size(), quiet);
  FieldValues values;
  std::string image;
  size_t done = 0;
  for (const int32_t position : db.positions()) {
    if (!reader.readRecord(done, oldCipher, values)) {
      error = "the record at position " + std::to_string(position) + " is damaged: " + describe(reader.damageAt(done)) +
              " (run mero check)";
      return kUnreadable;
    }
    // The old key is proven on every value before anything is committed: a
    // wrong one would turn every value into garbage under both keys.
    for (int32_t f = 0; f < values.size(); ++f)
      if (!isValidModifiedUtf8(values[f])) {
        error = "record " + std::to_string(done) + " at position " + std::to_string(position) + ", field " +
                std::to_string(f) + ": not valid text under the old key (is the key right?); nothing was changed";
        return kProblems;
      }
    encodeRecord(newCipher, values, image);
    if (!out.writeAt(position, image)) {
      error = "writing the new data file failed: " + File::lastErrorText();
      return kWriteFailed;
    }
    progress.update(++done);
  }
  return kSuccess;
}

// Steps 2 to 4 of a rewrite in place, each a point where a test may end the process.
bool commitInPlace(const std::string& base, const std::vector<DraftFile*>& drafts, std::string& error) {
  return commitRewrite(base, drafts, error, crashPoint);
}

int openForRewrite(const CommandLine& line, ToolDatabase& db) {
  std::string error;
  if (const int status = db.open(line.base(), ToolDatabase::Access::exclusive, error); status != kSuccess)
    return fail(status, error);
  ProblemList problems(false);
  const StructureResult checked = checkStructure(db, problems, line.flag("--quiet"));
  if (problems.count() == 0 && !checked.powerCut.empty())
    return fail(kProblems, line.base() + " holds what a power cut or a crash left (" + checked.powerCut +
                               "), which only the library's open takes back: open it once (mero count " + line.base() +
                               " does), then run this again (nothing was changed)");
  if (problems.count() > 0) {
    std::string list;
    for (const std::string& problem : problems.kept()) list += "\n  " + problem;
    if (problems.count() > problems.kept().size())
      list += "\n  ... " + std::to_string(problems.count() - problems.kept().size()) + " more";
    return fail(kUnreadable, line.base() + " is damaged, so it is not rewritten (nothing was changed):" + list +
                                 "\nmero check " + line.base() + " lists every problem; mero recover " + line.base() +
                                 " --into NEWBASE salvages the intact records into a new database");
  }
  if (!db.loadPositions(error)) return fail(kUnreadable, error);
  return kSuccess;
}

// compact --into NEWBASE: a new database beside the old one, which stays as it is.
int compactInto(const CommandLine& line, ToolDatabase& db, const std::string& into) {
  NewDatabase target(into);
  std::string error;
  if (const int status = target.claim(error); status != kSuccess) return fail(status, error);
  DraftFile data(target.draftPath(kDataExtension)), index(target.draftPath(kIndexExtension));
  std::vector<int32_t> positions;
  int64_t bytes = 0;
  std::string schemaBytes(static_cast<size_t>(std::max<int64_t>(db.schemaFile().size(), 0)), '\0');
  if (db.schemaFile().readAt(0, schemaBytes.data(), schemaBytes.size()) != static_cast<int64_t>(schemaBytes.size()))
    return fail(kUnreadable, "cannot read " + schemaFileName(line.base()) + ": " + File::lastErrorText());
  if (!data.create() || !index.create())
    return fail(kProblems, "cannot create the files of " + into + ": " + File::lastErrorText());
  if (!writeCompactedData(db, data, positions, bytes, line.flag("--quiet"), error)) return fail(kWriteFailed, error);
  crashPoint();
  if (!data.finish() || !index.append(encodeIndex(positions)) || !index.finish())
    return fail(kWriteFailed, "writing the files of " + into + " failed: " + File::lastErrorText());
  data.keep();  // from here on the commit decides what becomes of them
  index.keep();
  if (const int status = target.commit(schemaBytes, error); status != kSuccess) return fail(status, error);
  std::fprintf(stderr, "mero: wrote %zu records to %s; %s is unchanged.%s\n", positions.size(), into.c_str(),
               line.base().c_str(),
               positions == db.positions() ? " Positions are the same." : " Positions in the new database differ.");
  return kSuccess;
}

}  // namespace

int runCompact(const CommandLine& line) {
  ToolDatabase db;
  if (const int status = openForRewrite(line, db); status != kSuccess) return status;
  if (line.has("--into")) return compactInto(line, db, line.value("--into"));

  const std::string& base = line.base();
  DraftFile data(rewriteDraftPath(dataFileName(base))), index(rewriteDraftPath(indexFileName(base)));
  std::vector<int32_t> positions;
  int64_t after = 0;
  std::string error;
  if (!data.create() || !index.create())
    return fail(kProblems, "cannot create the rewritten files beside " + base + ": " + File::lastErrorText());
  if (!writeCompactedData(db, data, positions, after, line.flag("--quiet"), error)) return fail(kWriteFailed, error);
  const int64_t before = db.dataSize();
  crashPoint();
  if (!data.finish() || !index.append(encodeIndex(positions)) || !index.finish())
    return fail(kWriteFailed, "writing the rewritten files failed: " + File::lastErrorText());
  crashPoint();
  db.closeDataAndIndex();  // Windows renames only over files nobody has open
  if (!commitInPlace(base, {&data, &index}, error)) return fail(kWriteFailed, error);
  std::fprintf(stderr, "mero: compacted %zu records: data file %" PRId64 " -> %" PRId64 " bytes. %s\n",
               positions.size(), before, after,
               positions == db.positions()
                   ? "Record positions are unchanged (nothing lay before a live record)."
                   : "Record positions have changed: positions saved before are no longer valid.");
  return kSuccess;
}

int runRekey(const CommandLine& line) {
  std::string oldKey, newKey, error;
  if (const int status = loadKey(line, "--key-file", true, oldKey, error); status != kSuccess)
    return fail(status, error);
  if (const int status = loadKey(line, "--new-key-file", false, newKey, error); status != kSuccess)
    return fail(status, error);
  ToolDatabase db;
  if (const int status = openForRewrite(line, db); status != kSuccess) return status;

  const std::string& base = line.base();
  DraftFile data(rewriteDraftPath(dataFileName(base)));
  if (!data.create())
    return fail(kProblems, "cannot create the new data file beside " + base + ": " + File::lastErrorText());
  if (const int status =
          writeRekeyedData(db, data, FieldCipher(oldKey), FieldCipher(newKey), line.flag("--quiet"), error);
      status != kSuccess)
    return fail(status, error);
  crashPoint();
  if (!data.finish()) return fail(kWriteFailed, "writing the new data file failed: " + File::lastErrorText());
  crashPoint();
  db.closeDataAndIndex();
  if (!commitInPlace(base, {&data}, error)) return fail(kWriteFailed, error);
  std::fprintf(stderr, "mero: re-enciphered %zu records under the new key; lengths and positions are unchanged\n",
               db.positions().size());
  return kSuccess;
}

}  // namespace mero::tool
