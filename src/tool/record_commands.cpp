// The single-record commands: get, find, count, put and delete. Each opens
// the database through the engine, as an application does, under the same
// lock, so it never runs beside an application that has the files open.

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "engine/database.h"
#include "engine/file_names.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/exit_status.h"
#include "tool/key_source.h"
#include "tool/open_engine.h"
#include "tool/record_rows.h"
#include "tool/tool_database.h"

namespace mero::tool {

std::unique_ptr<Database> openEngine(const std::string& base, const std::string& key, bool useKeyIndex, int& status) {
  status = kUnreadable;
  if (!File::exists(schemaFileName(base))) {
    fail(kUnreadable, "no database at " + base + " (" + schemaFileName(base) + " is missing)");
    return nullptr;
  }
  // The engine would take a missing index for an empty one.
  FileIdentity data;
  if (!File::exists(indexFileName(base)) && File::identify(dataFileName(base), data) && data.size > 0) {
    fail(kUnreadable, indexFileName(base) + " is missing beside a data file of " + std::to_string(data.size) +
                          " bytes: the database is damaged (mero recover salvages it)");
    return nullptr;
  }
  OpenRefusal refusal;
  std::unique_ptr<Database> db = Database::open(base, key, useKeyIndex, refusal);
  if (db != nullptr) {
    status = kSuccess;
    return db;
  }
  switch (refusal.failure) {
    case OpenFailure::locked:
      status = kInUse;
      fail(status, holderOf(base) + ": try again once it is closed");
      break;
    case OpenFailure::lockUnsupported:
    case OpenFailure::filesUnavailable:
    case OpenFailure::repairFailed:
      fail(status, describe(refusal));
      break;
    case OpenFailure::tooLargeForMemory:
      status = kProblems;
      fail(status, describe(refusal));
      break;
    default:
      fail(status, describe(refusal) + " (mero check lists the problems; mero recover salvages it)");
  }
  return nullptr;
}

namespace {

// "@123" names a position; anything else is a key (the first field).
bool parsePosition(const std::string& arg, int32_t& position) {
  if (arg.size() < 2 || arg[0] != '@') return false;
  char* end = nullptr;
  const long value = std::strtol(arg.c_str() + 1, &end, 10);
  if (*end != '\0' || value < 0 || value > INT32_MAX) return false;
  position = static_cast<int32_t>(value);
  return true;
}

bool isLive(const Database& db, int32_t position) {
  for (const int32_t p : db.records().positionList())
    if (p == position) return true;
  return false;
}

// The live position that KEY|@POSITION names, or -1.
int32_t positionOf(const Database& db, const std::string& target) {
  int32_t position = -1;
  if (parsePosition(target, position)) return isLive(db, position) ? position : -1;
  std::string key;
  if (!utf8ToModified(target, key)) return -1;
  return db.getPos(key);
}

class Printer {
 public:
  Printer(const Database& db, RowFormat format, bool withPosition) : format_(format), withPosition_(withPosition) {
    if (withPosition) names_.push_back("position");
    for (int32_t f = 0; f < db.fieldCount(); ++f) {
      std::string name;
      size_t replaced = 0;
      modifiedToUtf8(db.schema().fieldNames.at(f).view(), name, replaced);
      names_.push_back(name);
    }
    if (format_ == RowFormat::csv) appendCsvRow(out_, names_);
  }
  // False when a value is not valid text (a wrong key).
  bool add(int32_t position, const FieldValues& values) {
    fields_.clear();
    if (withPosition_) fields_.push_back(std::to_string(position));
    size_t replaced = 0;
    for (int32_t f = 0; f < values.size(); ++f) {
      fields_.emplace_back();
      if (!modifiedToUtf8(values[f], fields_.back(), replaced)) return false;
    }
    if (format_ == RowFormat::csv)
      appendCsvRow(out_, fields_);
    else
      appendJsonRow(out_, names_, fields_);
    return true;
  }
  bool print() { return std::fwrite(out_.data(), 1, out_.size(), stdout) == out_.size() && std::fflush(stdout) == 0; }

 private:
  RowFormat format_;
  bool withPosition_;
  std::vector<std::string> names_;
  std::vector<std::string> fields_;
  std::string out_;
};

int formatOf(const CommandLine& line, RowFormat& format) {
  const std::string name = line.value("--format", "csv");
  if (name == "csv")
    format = RowFormat::csv;
  else if (name == "jsonl")
    format = RowFormat::jsonl;
  else
    return fail(kUsage, "--format must be csv or jsonl");
  return kSuccess;
}

// Prints the records at positions; status 1 when none, or a value is not text.
int printRecords(Database& db, const CommandLine& line, const std::vector<int32_t>& positions) {
  RowFormat format = RowFormat::csv;
  if (const int status = formatOf(line, format); status != kSuccess) return status;
  Printer printer(db, format, line.flag("--with-position"));
  FieldValues values;
  for (const int32_t position : positions) {
    if (!db.getRecord(position, values))
      return fail(kUnreadable, "the record at position " + std::to_string(position) + " cannot be read");
    if (!printer.add(position, values))
      return fail(kProblems,
                  "the record at position " + std::to_string(position) + " is not valid text (is the key right?)");
  }
  // stdout is no File: its reason is errno, read before anything else runs.
  if (!printer.print()) return fail(kWriteFailed, "cannot write standard output: " + File::describeError(errno));
  return kSuccess;
}

// FIELD=TERM (whole value) or FIELD~TERM (substring), FIELD by name or number.
bool parseTerms(const Database& db, const std::vector<std::string>& args, std::vector<uint8_t>& partial,
                FieldValues& terms, std::string& error) {
  std::vector<std::string> byField(static_cast<size_t>(db.fieldCount()));
  partial.assign(byField.size(), 0);
  for (const std::string& arg : args) {
    const size_t at = arg.find_first_of("=~");
    if (at == std::string::npos || at == 0) {
      error = "\"" + arg + "\" is not FIELD=TERM or FIELD~TERM";
      return false;
    }
    const std::string field = arg.substr(0, at);
    int32_t f = -1;
    for (int32_t i = 0; i < db.fieldCount() && f < 0; ++i) {
      std::string name;
      size_t replaced = 0;
      modifiedToUtf8(db.schema().fieldNames.at(i).view(), name, replaced);
      if (name == field) f = i;
    }
    if (f < 0 && field.find_first_not_of("0123456789") == std::string::npos && std::stol(field) < db.fieldCount())
      f = static_cast<int32_t>(std::stol(field));
    if (f < 0) {
      error = "\"" + field + "\" is not a field of the database";
      return false;
    }
    std::string term;
    if (!byField[f].empty() || !utf8ToModified(arg.substr(at + 1), term) || term.empty()) {
      error = "\"" + arg + "\": one non-empty term per field";
      return false;
    }
    byField[f] = term;
    partial[f] = arg[at] == '~';
  }
  for (const std::string& term : byField) terms.add(term);
  return true;
}

int loadKeyFor(const CommandLine& line, std::string& key) {
  std::string error;
  if (const int status = loadKey(line, "--key-file", true, key, error); status != kSuccess) return fail(status, error);
  return kSuccess;
}

// The engine for a command that names one record by KEY or @POSITION, with
// the key index on so that a KEY finds it; null with the status to return.
std::unique_ptr<Database> openForOneRecord(const CommandLine& line, const char* usage, int& status) {
  if (line.arguments().size() != 1) {
    status = fail(kUsage, usage);
    return nullptr;
  }
  std::string key;
  if (status = loadKeyFor(line, key); status != kSuccess) return nullptr;
  return openEngine(line.base(), key, true, status);
}

}  // namespace

int runGet(const CommandLine& line) {
  int status = kSuccess;
  auto db = openForOneRecord(line, "get takes one KEY or @POSITION", status);
  if (db == nullptr) return status;
  LockGuard guard(db->lock());
  const int32_t position = positionOf(*db, line.arguments()[0]);
  if (position < 0) return fail(kProblems, "no live record at " + line.arguments()[0]);
  return printRecords(*db, line, {position});
}

int runFind(const CommandLine& line) {
  std::string key, error;
  if (const int status = loadKeyFor(line, key); status != kSuccess) return status;
  int status = kSuccess;
  auto db = openEngine(line.base(), key, false, status);
  if (db == nullptr) return status;
  LockGuard guard(db->lock());
  std::vector<uint8_t> partial;
  FieldValues terms;
  if (!parseTerms(*db, line.arguments(), partial, terms, error)) return fail(kUsage, error);
  const std::vector<int32_t> found = db->find(partial, terms);
  if (line.flag("--count-only")) {
    std::printf("%zu\n", found.size());
    return kSuccess;
  }
  return printRecords(*db, line, found);
}

int runCount(const CommandLine& line) {
  std::string key, error;
  // Without terms nothing is deciphered: the key is needed only to match.
  if (!line.arguments().empty())
    if (const int status = loadKeyFor(line, key); status != kSuccess) return status;
  int status = kSuccess;
  auto db = openEngine(line.base(), key, false, status);
  if (db == nullptr) return status;
  LockGuard guard(db->lock());
  std::vector<uint8_t> partial;
  FieldValues terms;
  if (!parseTerms(*db, line.arguments(), partial, terms, error)) return fail(kUsage, error);
  std::printf("%zu\n", line.arguments().empty() ? static_cast<size_t>(db->numRecs()) : db->find(partial, terms).size());
  return kSuccess;
}

int runPut(const CommandLine& line) {
  std::string key;
  if (const int status = loadKeyFor(line, key); status != kSuccess) return status;
  int status = kSuccess;
  auto db = openEngine(line.base(), key, line.flag("--key-index"), status);
  if (db == nullptr) return status;
  LockGuard guard(db->lock());
  if (static_cast<int32_t>(line.arguments().size()) != db->fieldCount())
    return fail(kUsage, "put takes one value per field: " + std::to_string(db->fieldCount()) + ", not " +
                            std::to_string(line.arguments().size()));
  FieldValues values;
  for (const std::string& value : line.arguments()) {
    std::string stored;
    if (!utf8ToModified(value, stored)) return fail(kUsage, "a value is not valid UTF-8");
    values.add(stored);
  }
  switch (db->write(values)) {
    case WriteStatus::appended:
      std::printf("%d\n", db->records().lastPosition());
      return kSuccess;
    case WriteStatus::duplicateKey:
      return fail(kProblems, "refused: the first field is already the key of a record (--key-index)");
    case WriteStatus::wrongFieldCount:
      return fail(kUsage, "put takes one value per field");
    default:
      return fail(kWriteFailed, "writing the record failed: " + File::lastErrorText() + "; nothing was written");
  }
}

int runDelete(const CommandLine& line) {
  int status = kSuccess;
  auto db = openForOneRecord(line, "delete takes one KEY or @POSITION", status);
  if (db == nullptr) return status;
  LockGuard guard(db->lock());
  const int32_t position = positionOf(*db, line.arguments()[0]);
  if (position < 0) return fail(kProblems, "no live record at " + line.arguments()[0]);
  if (!db->deleteRecord(position))
    return fail(kWriteFailed, "deleting the record failed: " + File::lastErrorText() + "; nothing was changed");
  std::fprintf(stderr, "mero: deleted the record at position %d\n", position);
  return kSuccess;
}

}  // namespace mero::tool
