// mero import: a new database from CSV (with a header row) or JSON Lines,
// every row appended through the engine's own write path.

#include <cstdio>
#include <map>

#include "engine/database.h"
#include "tool/commands.h"
#include "tool/csv_format.h"
#include "tool/exit_status.h"
#include "tool/input_source.h"
#include "tool/json_lines.h"
#include "tool/key_source.h"
#include "tool/modified_utf8.h"
#include "tool/progress_bar.h"

namespace mero::tool {

namespace {

const char* const kExtensions[] = {".dat", ".idx", ".str"};

// The database is built under a temporary base name and renamed into place
// only when every row has been read, so bad input leaves nothing behind.
class PendingDatabase {
 public:
  explicit PendingDatabase(std::string base) : base_(std::move(base)) { removeFiles(); }
  ~PendingDatabase() {
    if (!done_) removeFiles();
  }
  const std::string& base() const { return base_; }
  bool moveTo(const std::string& finalBase) {
    // The schema file goes last: until it is there, no database is announced.
    for (const char* extension : kExtensions)
      if (!File::rename(base_ + extension, finalBase + extension)) return false;
    done_ = true;
    return true;
  }

 private:
  void removeFiles() {
    for (const char* extension : kExtensions) File::remove(base_ + extension);
  }
  std::string base_;
  bool done_ = false;
};

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
      const Result got = convert(csv_.next(values, error));
      line_ = csv_.line();
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
      if (text.find_first_not_of(" \t") != std::string::npos) break;  // blank lines carry no record
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

}  // namespace

int runImport(const CommandLine& line) {
  const std::string format = line.value("--format");
  if (format != "csv" && format != "jsonl") return fail(kUsage, "--format must be csv or jsonl");
  std::string key;
  std::string error;
  if (!loadKey(line, "--key-file", true, key, error)) return fail(kUsage, error);
  const std::string& base = line.base();
  for (const char* extension : kExtensions)
    if (File::exists(base + extension))
      return fail(kUsage, base + extension + " exists: import makes a new database and never adds to one");

  std::FILE* input = stdin;
  const std::string inputPath = line.value("--input", "-");
  if (inputPath != "-" && (input = std::fopen(inputPath.c_str(), "rb")) == nullptr)
    return fail(kUnreadable, "cannot read " + inputPath);
  struct Closer {
    std::FILE* f;
    ~Closer() {
      if (f != stdin) std::fclose(f);
    }
  } closer{input};
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
    if (!utf8ToModified(names[f], stored)) return fail(kProblems, "field name " + std::to_string(f) + " is not valid UTF-8");
    storedNames.at(static_cast<int32_t>(f)) = DbString(stored);
    indexed.at(static_cast<int32_t>(f)) = 0;
  }
  for (const std::string& name : wanted) {
    bool found = false;
    for (size_t f = 0; f < names.size(); ++f)
      if (names[f] == name) indexed.at(static_cast<int32_t>(f)) = 1, found = true;
    if (!found) return fail(kUsage, "--indexed names \"" + name + "\", which is not a field of the input");
  }

  PendingDatabase pending(base + ".mero-import");
  if (!appendSchemaBlock(pending.base() + ".str", indexed, storedNames))
    return fail(kProblems, "cannot create " + pending.base() + ".str");
  std::unique_ptr<Database> db = Database::open(pending.base(), key, line.flag("--key-index"));
  if (db == nullptr) return fail(kProblems, "cannot create the database at " + pending.base());

  uint64_t read = 0, written = 0, refused = 0;
  std::vector<std::string> values;
  FieldValues stored;
  std::string converted;
  {
    ProgressBar progress("import", 0, line.flag("--quiet"));
    LockGuard guard(db->lock());
    for (;;) {
      const RowSource::Result got = rows.next(names.size(), values, error);
      if (got == RowSource::Result::end) break;
      if (got == RowSource::Result::error) return fail(kProblems, error + "; nothing was written");
      ++read;
      stored.clear();
      for (size_t f = 0; f < values.size(); ++f) {
        converted.clear();
        if (!utf8ToModified(values[f], converted))
          return fail(kProblems, "line " + std::to_string(rows.line()) + ", field \"" + names[f] +
                                     "\": not valid UTF-8; nothing was written");
        stored.add(converted);
      }
      const WriteStatus status = db->write(stored);
      if (status == WriteStatus::appended) {
        ++written;
      } else {
        ++refused;
        std::fprintf(stderr, "mero: line %ld refused: %s\n", rows.line(),
                     status == WriteStatus::duplicateKey
                         ? "its first field is already the key of an earlier row (--key-index)"
                         : "it could not be stored (the data file would pass 2 GiB, or a write failed)");
      }
      progress.update(read);
    }
    db->shutdown();
  }
  db.reset();
  if (!pending.moveTo(base)) return fail(kProblems, "cannot rename the new files to " + base);
  std::fprintf(stderr, "mero: rows read %llu, written %llu, refused %llu\n", static_cast<unsigned long long>(read),
               static_cast<unsigned long long>(written), static_cast<unsigned long long>(refused));
  return refused == 0 ? kSuccess : kProblems;
}

}  // namespace mero::tool
