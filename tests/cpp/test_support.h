#pragma once
// Shared helpers for the native tests: a scratch directory per test and
// small conveniences for building values and reading files back.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/database.h"
#include "engine/field_values.h"
#include "foundation/db_array.h"
#include "foundation/db_string.h"

namespace mero::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string bytes(std::initializer_list<int> values);  // "\x02\x00..." from numbers
std::string le32(int32_t value);

FieldValues values(std::initializer_list<std::string> list);
std::vector<std::string> toStrings(const FieldValues& values);

// Defines base.str with the given fields (true = indexed) and opens it.
std::unique_ptr<Database> createDatabase(const std::string& base, std::initializer_list<bool> indexed,
                                         const std::string& key = "key", bool useKeyIndex = true);
void defineSchema(const std::string& base, std::initializer_list<bool> indexed);

std::vector<int32_t> findAll(Database& db, std::initializer_list<std::string> terms, bool partial = false);
std::vector<int32_t> indexEntries(const std::string& base);  // count then entries, as stored

}  // namespace mero::test
