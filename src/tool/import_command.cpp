// mero import: a new database from CSV (with a header row) or JSON Lines,
// every row appended through the engine's own write path.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "engine/database.h"
#include "engine/file_names.h"
#include "engine/record_format.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/crash_points.h"
#include "tool/csv_format.h"
#include "tool/exit_status.h"
#include "tool/input_source.h"
#include "tool/json_lines.h"
#include "tool/key_source.h"
#include "tool/new_database.h"
#include "tool/open_engine.h"
#include "tool/progress_bar.h"

namespace mero::tool {

namespace {

// One input row, whatever the format: its line number and UTF-8 values in
// field order.
class RowSource {
 public:
  RowSource(InputSource& in, bool json) : in_(in), csv_(in), json_(json) {}

  enum class Result { row, end, error };

  // The header: the field names, from the CSV header row or the first object.
  Result header(std::vector<std::string>& names, std::string& error) {
    if (!json_) return convert(csv_.next(names, error));
    std::vector<std::pair<std::string, std::string>> members;
    const Result got = nextObject(members, error);
    if (got != Result::row) return got;
    for (size_t f = 0; f < members.size(); ++f) {
      if (!fieldOf_.emplace(members[f].first, f).second) {
        error = "line " + std::to_string(line_) + ": the name \"" + members[f].first + "\" appears twice";
        return Result::error;
      }
      names.push_back(members[f].first);
    }
    pending_.resize(members.size());
    for (size_t f = 0; f < members.size(); ++f) pending_[f] = std::move(members[f].second);
    havePending_ = true;
    return Result::row;
  }

  Result next(size_t fieldCount, std::vector<std::string>& values, std::string& error) {
    if (!json_) {
      Result got = convert(csv_.next(values, error));
      line_ = csv_.line();
      // An empty last line ends the input (an editor's habit); a one-field
      // empty value is written quoted, so no record is lost by this.
      if (got == Result::row && values.size() == 1 && values[0].empty() && !csv_.lastFieldQuoted() && in_.peek() < 0)
        got = Result::end;
      if (got == Result::row && values.size() != fieldCount) {
        error = "line " + std::to_string(line_) + ": " + std::to_string(values.size()) +
                " fields, but the header has " + std::to_string(fieldCount);
        return Result::error;
      }
      return got;
    }
    if (havePending_) {
      havePending_ = false;
      values.swap(pending_);
      return Result::row;
    }
    std::vector<std::pair<std::string, std::string>> members;
    const Result got = nextObject(members, error);
    if (got != Result::row) return got;
    values.assign(fieldCount, std::string());
    std::vector<bool> seen(fieldCount, false);
    for (auto& member : members) {
      const auto it = fieldOf_.find(member.first);
      if (it == fieldOf_.end() || seen[it->second]) {
        error = "line " + std::to_string(line_) + ": \"" + member.first +
                (it == fieldOf_.end() ? "\" is not a field of the first line" : "\" appears twice");
        return Result::error;
      }
      seen[it->second] = true;
      values[it->second] = std::move(member.second);
    }
    if (members.size() != fieldCount) {
      error = "line " + std::to_string(line_) + ": " + std::to_string(members.size()) +
              " fields, but the first line has " + std::to_string(fieldCount);
      return Result::error;
    }
    return Result::row;
  }

  long line() const { return line_; }

 private:
  static Result convert(CsvReader::Result r) {
    return r == CsvReader::Result::row ? Result::row : r == CsvReader::Result::end ? Result::end : Result::error;
  }
  Result nextObject(std::vector<std::pair<std::string, std::string>>& members, std::string& error) {
    std::string text;
    for (;;) {
      if (!in_.readLine(text)) {
        if (in_.failed()) error = "reading the input failed";
        return in_.failed() ? Result::error : Result::end;
      }
      ++line_;
      if (line_ == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // a byte order mark
      if (text.find_first_not_of(" \t") != std::string::npos) break;           // blank lines carry no record
    }
    if (!parseJsonObject(text, members, error)) {
      error = "line " + std::to_string(line_) + ": " + error;
      return Result::error;
    }
    return Result::row;
  }

  InputSource& in_;
  CsvReader csv_;
  bool json_;
  long line_ = 0;
  std::map<std::string, size_t> fieldOf_;
  std::vector<std::string> pending_;
  bool havePending_ = false;
};

bool splitNames(const std::string& list, std::vector<std::string>& names) {
  size_t start = 0;
  while (start <= list.size() && !list.empty()) {
    const size_t comma = list.find(',', start);
    names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

// The row's values as the engine stores them (modified UTF-8), or the
// failure that names the first value that is not valid UTF-8.
int storedValues(const std::vector<std::string>& values, const std::vector<std::string>& names, long rowLine,
                 FieldValues& stored) {
  std::string converted;
  stored.clear();
  for (size_t f = 0; f < values.size(); ++f) {
    converted.clear();
    if (!utf8ToModified(values[f], converted))
      return fail(kProblems, "line " + std::to_string(rowLine) + ", field \"" + names[f] +
                                 "\": not valid UTF-8; nothing was written");
    stored.add(converted);
  }
  return kSuccess;
}

// import --append: the rows go into an existing database through its
// engine. Every row is read and converted before the first is written, so
// bad input still changes nothing; a write that fails stops the import
// with the rows before it in place, and says how many.
int appendRows(const CommandLine& line, const std::string& key, RowSource& rows, const std::vector<std::string>& names,
               const DbArray<DbString>& storedNames) {
  std::vector<FieldValues> pending;
  std::vector<long> lineOf;
  std::vector<std::string> values;
  std::string error;
  for (;;) {
    const RowSource::Result got = rows.next(names.size(), values, error);
    if (got == RowSource::Result::end) break;
    if (got == RowSource::Result::error) return fail(kProblems, error + "; nothing was written");
    FieldValues stored;
    if (const int status = storedValues(values, names, rows.line(), stored); status != kSuccess) return status;
    pending.push_back(std::move(stored));
    lineOf.push_back(rows.line());
  }
  int status = kSuccess;
  std::unique_ptr<Database> db = openEngine(line.base(), key, line.flag("--key-index"), status);
  if (db == nullptr) return status;
  LockGuard guard(db->lock());
  if (db->fieldCount() != storedNames.size())
    return fail(kUsage, "the input has " + std::to_string(names.size()) + " fields, the database " +
                            std::to_string(db->fieldCount()) + "; nothing was written");
  for (int32_t f = 0; f < db->fieldCount(); ++f)
    if (db->schema().fieldNames.at(f).view() != storedNames.at(f).view())
      return fail(kUsage, "field " + std::to_string(f) + " of the input is \"" + names[f] +
                              "\", not the database's; nothing was written");
  uint64_t written = 0, refused = 0;
  for (size_t r = 0; r < pending.size(); ++r) {
    const WriteStatus got = db->write(pending[r]);
    if (got == WriteStatus::appended) {
      ++written;
    } else if (got == WriteStatus::duplicateKey) {
      ++refused;
      std::fprintf(stderr, "mero: line %ld refused: its first field is already the key of a record (--key-index)\n",
                   lineOf[r]);
    } else {
      return fail(kWriteFailed, "line " + std::to_string(lineOf[r]) +
                                    ": writing the database failed: " + File::lastErrorText() + "; the " +
                                    std::to_string(written) + " rows before it were appended, the rest were not");
    }
  }
  std::fprintf(stderr, "mero: rows read %zu, appended %llu, refused %llu\n", pending.size(),
               static_cast<unsigned long long>(written), static_cast<unsigned long long>(refused));
  return refused == 0 ? kSuccess : kProblems;
}

}  // namespace

int runImport(const CommandLine& line) {
  const std::string format = line.value("--format");
  if (format != "csv" && format != "jsonl") return fail(kUsage, "--format must be csv or jsonl");
  std::string key;
  std::string error;
  if (const int status = loadKey(line, "--key-file", true, key, error); status != kSuccess) return fail(status, error);
  const std::string& base = line.base();

  std::FILE* input = stdin;
  const std::string inputPath = line.value("--input", "-");
  if (inputPath != "-" && (input = std::fopen(inputPath.c_str(), "rb")) == nullptr)
    return fail(kUnreadable, "cannot read " + inputPath + ": " + std::strerror(errno));
  struct Closer {
    std::FILE* f;
    ~Closer() {
      if (f != stdin) std::fclose(f);
    }
  } closer{input};
  const bool append = line.flag("--append");
  NewDatabase target(base);
  if (const int status = append ? kSuccess : target.claim(error); status != kSuccess) {
    if (status == kUsage && error.find("exists") != std::string::npos)
      error += " (import makes a new database and never adds to one)";
    return fail(status, error);
  }
  InputSource in(input);
  RowSource rows(in, format == "jsonl");

  std::vector<std::string> names;
  const RowSource::Result headerResult = rows.header(names, error);
  if (headerResult == RowSource::Result::end) return fail(kProblems, "the input is empty: it has no header");
  if (headerResult == RowSource::Result::error) return fail(kProblems, error + "; nothing was written");
  // Spreadsheets often start UTF-8 text with a byte order mark; it is not part of a name.
  if (!names.empty() && names[0].rfind("\xEF\xBB\xBF", 0) == 0) names[0].erase(0, 3);

  std::vector<std::string> wanted;
  splitNames(line.value("--indexed"), wanted);
  DbArray<uint8_t> indexed;
  DbArray<DbString> storedNames;
  indexed.resize(static_cast<int32_t>(names.size()));
  storedNames.resize(static_cast<int32_t>(names.size()));
  for (size_t f = 0; f < names.size(); ++f) {
    std::string stored;
    if (!utf8ToModified(names[f], stored))
      return fail(kProblems, "field name " + std::to_string(f) + " is not valid UTF-8");
    storedNames.at(static_cast<int32_t>(f)) = DbString(stored);
    indexed.at(static_cast<int32_t>(f)) = 0;
  }
  for (const std::string& name : wanted) {
    bool found = false;
    for (size_t f = 0; f < names.size(); ++f)
      if (names[f] == name) indexed.at(static_cast<int32_t>(f)) = 1, found = true;
    if (!found) return fail(kUsage, "--indexed names \"" + name + "\", which is not a field of the input");
  }
  if (append) return appendRows(line, key, rows, names, storedNames);

  // The engine builds the database under a scratch name; its files become
  // NEW's drafts once every row is in.
  const std::string scratch = target.scratchBase();
  if (!appendSchemaBlock(schemaFileName(scratch), indexed, storedNames))
    return fail(kWriteFailed, "cannot create the files of " + base + ": " + File::lastErrorText());
  std::unique_ptr<Database> db = Database::open(scratch, key, line.flag("--key-index"));
  if (db == nullptr) return fail(kWriteFailed, "cannot create the files of " + base + ": " + File::lastErrorText());

  uint64_t read = 0, written = 0, refused = 0;
  std::vector<std::string> values;
  FieldValues stored;
  {
    ProgressBar progress("import", 0, line.flag("--quiet"));
    LockGuard guard(db->lock());
    for (;;) {
      const RowSource::Result got = rows.next(names.size(), values, error);
      if (got == RowSource::Result::end) break;
      if (got == RowSource::Result::error) return fail(kProblems, error + "; nothing was written");
      ++read;
      if (const int status = storedValues(values, names, rows.line(), stored); status != kSuccess) return status;
      const WriteStatus status = db->write(stored);
      if (status == WriteStatus::appended) {
        ++written;
      } else if (status == WriteStatus::duplicateKey) {
        ++refused;
        ProgressBar::clearActive();
        std::fprintf(stderr,
                     "mero: line %ld refused: its first field is already the key of an earlier row (--key-index)\n",
                     rows.line());
      } else {
        // A write that fails (a full disk) or a data file that would pass its
        // limit stops the import: a database missing some rows is no copy.
        const bool tooLarge = static_cast<int64_t>(recordImageSize(stored)) > kMaxDataFileSize - db->dataFileSize();
        const std::string reason = tooLarge ? "the data file would pass 2 GiB" : File::lastErrorText();
        return fail(kWriteFailed, "line " + std::to_string(rows.line()) + ": writing the database failed: " + reason +
                                      "; nothing was written");
      }
      progress.update(read);
      crashPoint();
    }
    db->shutdown();
  }
  db.reset();
  // The engine's files become the drafts, synced before the commit vouches for them.
  for (const char* extension : kRewrittenExtensions) {
    const std::string draft = target.draftPath(extension);
    File file;
    if (!File::rename(scratch + extension, draft) || !file.openReadWrite(draft) || !file.sync())
      return fail(kWriteFailed, "writing the files of " + base + " failed: " + File::lastErrorText());
  }
  std::string schemaBytes;
  {
    File schemaFile;
    if (!schemaFile.openReadWrite(schemaFileName(scratch)) || schemaFile.size() < 0)
      return fail(kWriteFailed, "cannot read back the new schema file: " + File::lastErrorText());
    schemaBytes.resize(static_cast<size_t>(schemaFile.size()));
    if (schemaFile.readAt(0, schemaBytes.data(), schemaBytes.size()) != static_cast<int64_t>(schemaBytes.size()))
      return fail(kWriteFailed, "cannot read back the new schema file: " + File::lastErrorText());
  }
  File::remove(schemaFileName(scratch));
  crashPoint();
  if (const int status = target.commit(schemaBytes, error); status != kSuccess) return fail(status, error);
  std::fprintf(stderr, "mero: rows read %llu, written %llu, refused %llu\n", static_cast<unsigned long long>(read),
               static_cast<unsigned long long>(written), static_cast<unsigned long long>(refused));
  return refused == 0 ? kSuccess : kProblems;
}

}  // namespace mero::tool
