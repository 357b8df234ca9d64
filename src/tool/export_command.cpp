// mero export: the live records in record order as CSV, JSON Lines or a
// SQLite table, with values converted to standard UTF-8.

#include <cstdio>

#include "tool/commands.h"
#include "tool/csv_format.h"
#include "tool/exit_status.h"
#include "tool/json_lines.h"
#include "tool/key_source.h"
#include "tool/modified_utf8.h"
#include "tool/output_sink.h"
#include "tool/progress_bar.h"
#include "tool/record_cursor.h"
#include "tool/sqlite_writer.h"
#include "tool/tool_database.h"

namespace mero::tool {

namespace {

enum class Format { csv, jsonl, sqlite };

void appendCsvRow(std::string& out, const std::vector<std::string>& fields) {
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) out.push_back(',');
    appendCsvField(out, fields[f], fields.size() == 1);
  }
  out.append("\r\n");
}

void appendJsonRow(std::string& out, const std::vector<std::string>& names, const std::vector<std::string>& fields) {
  out.push_back('{');
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) out.push_back(',');
    appendJsonString(out, names[f]);
    out.push_back(':');
    appendJsonString(out, fields[f]);
  }
  out.append("}\n");
}

}  // namespace

int runExport(const CommandLine& line) {
  const std::string formatName = line.value("--format");
  Format format;
  if (formatName == "csv") format = Format::csv;
  else if (formatName == "jsonl") format = Format::jsonl;
  else if (formatName == "sqlite") format = Format::sqlite;
  else return fail(kUsage, "--format must be csv, jsonl or sqlite");
  if (format == Format::sqlite && !SqliteWriter::available())
    return fail(kUsage, "--format sqlite is not available in this build of mero (it is built without SQLite)");
  if (format == Format::sqlite && (line.value("--output").empty() || line.value("--output") == "-"))
    return fail(kUsage, "--format sqlite writes a file: give --output FILE");
  std::string key;
  std::string error;
  if (!loadKey(line, "--key-file", true, key, error)) return fail(kUsage, error);

  ToolDatabase db;
  if (const int status = db.open(line.base(), ToolDatabase::Access::shared, error); status != kSuccess)
    return fail(status, error);
  if (!db.readSchema(error) || !db.loadPositions(error)) return fail(kUnreadable, error);
  const Schema& schema = db.schema();

  std::vector<std::string> names(static_cast<size_t>(schema.fieldCount));
  size_t replaced = 0;
  for (int32_t f = 0; f < schema.fieldCount; ++f)
    if (!modifiedToUtf8(schema.fieldNames.at(f).view(), names[f], replaced))
      return fail(kUnreadable, "field name " + std::to_string(f) + " is not valid text");

  OutputSink sink;
  if (const int status = sink.open(line.value("--output"), line.flag("--force"), error); status != kSuccess)
    return fail(status, error);
  if (format == Format::sqlite && !sink.toFile()) return fail(kUsage, "--format sqlite writes a regular file");
  SqliteWriter sqlite;
  if (format == Format::sqlite && !sqlite.open(sink.pendingPath(), names, error)) return fail(kProblems, error);
  if (format == Format::csv) appendCsvRow(sink.buffer(), names);

  const FieldCipher cipher(key);
  RecordCursor reader(db.dataFile(), db.dataSize());
  FieldValues values;
  std::vector<std::string> fields(static_cast<size_t>(schema.fieldCount));
  ProgressBar progress("export", db.positions().size(), line.flag("--quiet"));
  size_t r = 0;
  for (const int32_t position : db.positions()) {
    auto where = [&] { return "record " + std::to_string(r) + " at position " + std::to_string(position); };
    if (!reader.readRecord(position, schema.fieldCount, cipher, values))
      return fail(kUnreadable, where() + " is damaged (run mero check); nothing was written");
    for (int32_t f = 0; f < schema.fieldCount; ++f) {
      fields[f].clear();
      if (!modifiedToUtf8(values[f], fields[f], replaced))
        return fail(kProblems, where() + ", field " + std::to_string(f) +
                                   ": not valid modified UTF-8 (is the key right?); nothing was written");
    }
    if (format == Format::csv) appendCsvRow(sink.buffer(), fields);
    else if (format == Format::jsonl) appendJsonRow(sink.buffer(), names, fields);
    else if (!sqlite.add(position, fields, error)) return fail(kProblems, error);
    if (!sink.flushIfFull()) return fail(kProblems, "writing the output failed");
    progress.update(++r);
  }
  progress.finish();
  if (format == Format::sqlite && !sqlite.finish(error)) return fail(kProblems, error);
  if (!sink.commit(error)) return fail(kProblems, error);
  if (replaced > 0)
    std::fprintf(stderr, "mero: %zu unpaired surrogates had no UTF-8 form and were written as U+FFFD\n", replaced);
  std::fprintf(stderr, "mero: exported %zu records\n", r);
  return kSuccess;
}

}  // namespace mero::tool
