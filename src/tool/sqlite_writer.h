#pragma once
// Writes exported records into a new SQLite database file: one table,
// "records", with the record's position and a TEXT column per field. Column
// names are the field names, made unique (SQLite compares them without
// regard to ASCII case) by a suffix where needed.
//
// Builds without SQLite (the Windows executable) refuse with a message.

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace mero::tool {

class SqliteWriter {
 public:
  SqliteWriter() = default;
  ~SqliteWriter();
  SqliteWriter(const SqliteWriter&) = delete;
  SqliteWriter& operator=(const SqliteWriter&) = delete;

  static bool available();
  // Creates the table in a new file; the names are UTF-8.
  bool open(const std::string& path, const std::vector<std::string>& fieldNames, std::string& error);
  bool add(int32_t position, const std::vector<std::string>& values, std::string& error);
  bool finish(std::string& error);

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

}  // namespace mero::tool
