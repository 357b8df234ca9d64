// mero export: the live records in record order as CSV, JSON Lines or a
// SQLite table, with values converted to standard UTF-8.

#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/file_names.h"
#include "engine/record_order_reader.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/csv_format.h"
#include "tool/exit_status.h"
#include "tool/json_lines.h"
#include "tool/key_source.h"
#include "tool/output_sink.h"
#include "tool/progress_bar.h"
#include "tool/record_rows.h"
#include "tool/sqlite_writer.h"
#include "tool/tool_database.h"

namespace mero::tool {

namespace {

enum class Format { csv, jsonl, sqlite };

}  // namespace

namespace {

struct ExportPlan {
  Format format;
  std::vector<std::string> names;
  const FieldCipher& cipher;
  bool quiet;
};

// One pass over the live records into sink. Live, a record that cannot be
// read, or files that changed under the pass, make it start over (kRetry).
constexpr int kRetry = -1;

int exportOnce(ToolDatabase& db, const ExportPlan& plan, OutputSink& sink, size_t& exported, size_t& replaced,
               std::string& error) {
  const Schema& schema = db.schema();
  const bool live = db.readingLive();
  SqliteWriter sqlite;
  if (plan.format == Format::sqlite && !sqlite.open(sink.pendingPath(), plan.names, error)) return kProblems;
  if (plan.format == Format::csv) appendCsvRow(sink.buffer(), plan.names);
  RecordOrderReader reader(db.dataFile(), db.dataSize(), db.positions(), schema.fieldCount);
  FieldValues values;
  std::vector<std::string> fields(static_cast<size_t>(schema.fieldCount));
  ProgressBar progress("export", db.positions().size(), plan.quiet);
  size_t r = 0;
  replaced = 0;
  for (const int32_t position : db.positions()) {
    auto where = [&] { return "record " + std::to_string(r) + " at position " + std::to_string(position); };
    if (!reader.readRecord(r, plan.cipher, values)) {
      if (live && !db.unchangedSinceLoad()) return kRetry;
      error = where() + " is damaged: " + describe(reader.damageAt(r)) + " (run mero check); nothing was written";
      return kUnreadable;
    }
    for (int32_t f = 0; f < schema.fieldCount; ++f) {
      fields[f].clear();
      if (!modifiedToUtf8(values[f], fields[f], replaced)) {
        if (live && !db.unchangedSinceLoad()) return kRetry;
        error = where() + ", field " + std::to_string(f) +
                ": not valid modified UTF-8 (is the key right?); nothing was written";
        return kProblems;
      }
    }
    if (plan.format == Format::csv)
      appendCsvRow(sink.buffer(), fields);
    else if (plan.format == Format::jsonl)
      appendJsonRow(sink.buffer(), plan.names, fields);
    else if (!sqlite.add(position, fields, error))
      return kProblems;
    if (!sink.flushIfFull()) {
      sink.commit(error);  // names the reason
      return kWriteFailed;
    }
    progress.update(++r);
  }
  progress.finish();
  if (live && !db.unchangedSinceLoad()) return kRetry;
  if (plan.format == Format::sqlite && !sqlite.finish(error)) return kProblems;
  exported = r;
  return kSuccess;
}

}  // namespace

int runExport(const CommandLine& line) {
  const std::string formatName = line.value("--format");
  Format format;
  if (formatName == "csv")
    format = Format::csv;
  else if (formatName == "jsonl")
    format = Format::jsonl;
  else if (formatName == "sqlite")
    format = Format::sqlite;
  else
    return fail(kUsage, "--format must be csv, jsonl or sqlite");
  if (format == Format::sqlite && !SqliteWriter::available())
    return fail(kUsage, "--format sqlite is not available in this build of mero (it is built without SQLite)");
  if (format == Format::sqlite && (line.value("--output").empty() || line.value("--output") == "-"))
    return fail(kUsage, "--format sqlite writes a file: give --output FILE");
  std::string key;
  std::string error;
  if (const int status = loadKey(line, "--key-file", true, key, error); status != kSuccess) return fail(status, error);

  ToolDatabase db;
  const auto access = line.flag("--live") ? ToolDatabase::Access::live : ToolDatabase::Access::shared;
  if (const int status = db.open(line.base(), access, error); status != kSuccess) return fail(status, error);
  if (!db.readSchema(error)) return fail(kUnreadable, error);
  const Schema& schema = db.schema();

  std::vector<std::string> names(static_cast<size_t>(schema.fieldCount));
  size_t replaced = 0;
  for (int32_t f = 0; f < schema.fieldCount; ++f)
    if (!modifiedToUtf8(schema.fieldNames.at(f).view(), names[f], replaced))
      return fail(kUnreadable, "field name " + std::to_string(f) + " is not valid text");

  const std::string& base = line.base();
  OutputSink sink;
  if (const int status = sink.open(line.value("--output"), line.flag("--force"),
                                   {schemaFileName(base), dataFileName(base), indexFileName(base)}, error);
      status != kSuccess)
    return fail(status, error);
  if (format == Format::sqlite && !sink.toFile()) return fail(kUsage, "--format sqlite writes a regular file");
  const FieldCipher cipher(key);
  const ExportPlan plan{format, names, cipher, line.flag("--quiet")};
  if (db.readingLive()) {
    if (!sink.toFile()) sink.holdUntilCommit();  // stdout cannot start over
    std::fprintf(stderr, "mero: reading live: %s is open in an application; this is a moment's view\n", base.c_str());
  }
  size_t exported = 0;
  std::string lastError;  // live: a failure counts when the next pass meets it again
  for (int attempt = 0;; ++attempt) {
    if (!db.loadPositions(error)) {
      if (!db.readingLive()) return fail(kUnreadable, error);
      if (attempt < 20 && sink.restart()) continue;
      return fail(kInUse, base + " kept changing while it was read: try again, or close the application first");
    }
    // A schema of no fields cannot hold records: an emptied schema file would
    // otherwise export every record as an empty row.
    if (schema.fieldCount == 0 && !db.positions().empty())
      return fail(kUnreadable, schemaFileName(base) + " defines no fields, but the index lists " +
                                   std::to_string(db.positions().size()) + " records: the schema file is damaged");
    error.clear();
    const int status = exportOnce(db, plan, sink, exported, replaced, error);
    if (status == kSuccess) break;
    // A file's timestamp may not move with every change: live, a failure is
    // believed only when a pass after a pause meets it again in the same place.
    const bool confirmed = !db.readingLive() || status == kWriteFailed || (!error.empty() && error == lastError);
    if (status != kRetry && confirmed) return fail(status, error);
    lastError = error;
    if (!error.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (attempt >= 20 || !sink.restart())
      return fail(kInUse, base + " kept changing while it was read: try again, or close the application first");
  }
  if (!sink.commit(error)) return fail(kWriteFailed, error);
  if (replaced > 0)
    std::fprintf(stderr, "mero: %zu unpaired surrogates had no UTF-8 form and were written as U+FFFD\n", replaced);
  std::fprintf(stderr, "mero: exported %zu records\n", exported);
  return kSuccess;
}

}  // namespace mero::tool
