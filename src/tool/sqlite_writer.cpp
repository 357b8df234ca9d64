#include "tool/sqlite_writer.h"

#ifdef MERO_HAVE_SQLITE
#include <sqlite3.h>

#include <set>
#endif

namespace mero::tool {

#ifdef MERO_HAVE_SQLITE

namespace {
std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

std::string folded(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

bool run(sqlite3* db, const std::string& sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = std::string("SQLite: ") + (message != nullptr ? message : "error");
  sqlite3_free(message);
  return false;
}
}  // namespace

bool SqliteWriter::available() { return true; }

SqliteWriter::~SqliteWriter() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
}

bool SqliteWriter::open(const std::string& path, const std::vector<std::string>& fieldNames, std::string& error) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    error = "SQLite cannot create " + path;
    return false;
  }
  std::set<std::string> used = {"position"};
  std::string create = "CREATE TABLE records (position INTEGER NOT NULL";
  std::string insert = "INSERT INTO records VALUES (?";
  for (size_t f = 0; f < fieldNames.size(); ++f) {
    std::string name = fieldNames[f].empty() ? "field_" + std::to_string(f) : fieldNames[f];
    while (!used.insert(folded(name)).second) name += "_" + std::to_string(f);
    create += ", " + quoted(name) + " TEXT";
    insert += ", ?";
  }
  return run(db_, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", error) && run(db_, create + ")", error) &&
         (sqlite3_prepare_v2(db_, (insert + ")").c_str(), -1, &insert_, nullptr) == SQLITE_OK ||
          (error = std::string("SQLite: ") + sqlite3_errmsg(db_), false));
}

bool SqliteWriter::add(int32_t position, const std::vector<std::string>& values, std::string& error) {
  sqlite3_reset(insert_);
  sqlite3_bind_int64(insert_, 1, position);
  for (size_t f = 0; f < values.size(); ++f)
    sqlite3_bind_text(insert_, static_cast<int>(f) + 2, values[f].data(), static_cast<int>(values[f].size()),
                      SQLITE_STATIC);
  if (sqlite3_step(insert_) == SQLITE_DONE) return true;
  error = std::string("SQLite: ") + sqlite3_errmsg(db_);
  return false;
}

bool SqliteWriter::finish(std::string& error) {
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  if (!run(db_, "COMMIT", error)) return false;
  const bool closed = sqlite3_close(db_) == SQLITE_OK;
  db_ = nullptr;
  if (!closed) error = "SQLite could not close the file";
  return closed;
}

#else  // built without SQLite

bool SqliteWriter::available() { return false; }
SqliteWriter::~SqliteWriter() = default;
bool SqliteWriter::open(const std::string&, const std::vector<std::string>&, std::string& error) {
  error = "this build of mero has no SQLite support";
  return false;
}
bool SqliteWriter::add(int32_t, const std::vector<std::string>&, std::string&) { return false; }
bool SqliteWriter::finish(std::string&) { return false; }

#endif

}  // namespace mero::tool
