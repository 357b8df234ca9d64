#include "test_support.h"

#include <fstream>
#include <random>
#include <sstream>

#include "engine/schema.h"
#include "foundation/int32_codec.h"

namespace mero::test {

TempDir::TempDir() {
  std::random_device seed;
  const char* base = std::getenv("MERO_TEST_TMP");
  std::filesystem::path root = base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
  dir_ = root / ("mero-test-" + std::to_string(seed()) + std::to_string(seed()));
  std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (const int b : list) out.push_back(static_cast<char>(b));
  return out;
}

std::string le32(int32_t value) {
  char b[4];
  encodeInt32(value, b);
  return std::string(b, 4);
}

FieldValues values(std::initializer_list<std::string> list) {
  FieldValues out;
  for (const std::string& v : list) out.add(v);
  return out;
}

std::vector<std::string> toStrings(const FieldValues& list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list.size(); ++i) out.emplace_back(list[i]);
  return out;
}

void defineSchema(const std::string& base, std::initializer_list<bool> indexed) {
  DbArray<uint8_t> flags(static_cast<int32_t>(indexed.size()), 0);
  DbArray<DbString> names;
  names.resize(static_cast<int32_t>(indexed.size()));
  int32_t i = 0;
  for (const bool flag : indexed) {
    flags.at(i) = flag ? 1 : 0;
    names.at(i) = ("f" + std::to_string(i)).c_str();
    ++i;
  }
  appendSchemaBlock(base + ".str", flags, names);
}

std::unique_ptr<Database> createDatabase(const std::string& base, std::initializer_list<bool> indexed,
                                         const std::string& key, bool useKeyIndex) {
  defineSchema(base, indexed);
  return Database::open(base, key, useKeyIndex);
}

std::vector<int32_t> findAll(Database& db, std::initializer_list<std::string> terms, bool partial) {
  const FieldValues list = values(terms);
  return db.find(std::vector<uint8_t>(terms.size(), partial ? 1 : 0), list);
}

std::vector<int32_t> indexEntries(const std::string& base) {
  const std::string content = readFile(base + ".idx");
  std::vector<int32_t> out;
  for (size_t at = 0; at + 4 <= content.size(); at += 4) out.push_back(decodeInt32(content.data() + at));
  return out;
}

}  // namespace mero::test
