#include "reliability_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>

#include "engine/schema.h"
#include "foundation/db_array.h"
#include "foundation/db_string.h"

namespace mero::test {

ScratchDir::ScratchDir() {
  const char* root = std::getenv("MERO_TEST_TMP");
  std::filesystem::path parent = root != nullptr && *root != 0 ? root : "/tmp";
  std::filesystem::create_directories(parent);
  std::string pattern = (parent / "reliability-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

FieldValues valuesOf(const std::vector<std::string>& values) {
  FieldValues out;
  for (const std::string& v : values) out.add(v);
  return out;
}

std::vector<std::string> toStrings(const FieldValues& values) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < values.size(); ++i) out.emplace_back(values[i]);
  return out;
}

void defineTestSchema(const std::string& base) {
  DbArray<uint8_t> indexed(3, 0);
  indexed.at(0) = 1;
  indexed.at(1) = 1;
  DbArray<DbString> names(3, DbString());
  names.at(0) = "name";
  names.at(1) = "city";
  names.at(2) = "note";
  if (!appendSchemaBlock(base + ".str", indexed, names)) throw std::runtime_error("define failed");
}

void createTestDatabase(const std::string& base, int records) {
  defineTestSchema(base);
  std::unique_ptr<Database> db = openTestDatabase(base);
  if (!db) throw std::runtime_error("open failed");
  for (int i = 0; i < records; ++i) {
    const std::string n = std::to_string(i);
    if (db->write(valuesOf({"k" + n, "city" + std::to_string(i % 3), "note " + n})) != WriteStatus::appended)
      throw std::runtime_error("setup write failed");
  }
}

std::unique_ptr<Database> openTestDatabase(const std::string& base) {
  return Database::open(base, kKey, true);
}

bool Snapshot::sameValues(const Snapshot& other) const {
  if (records.size() != other.records.size()) return false;
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].values != other.records[i].values) return false;
  return true;
}

std::string Snapshot::describe() const {
  std::ostringstream out;
  out << records.size() << " records:";
  for (const RecordView& r : records) {
    out << " @" << r.position << "[";
    for (size_t i = 0; i < r.values.size(); ++i) out << (i ? "|" : "") << r.values[i];
    out << "]";
  }
  return out.str();
}

Snapshot snapshotOf(Database& db) {
  Snapshot snapshot;
  FieldValues values;
  for (const int32_t position : db.records().positions()) {
    RecordView view{position, {}};
    if (db.getRecord(position, values)) view.values = toStrings(values);
    else view.values = {"<unreadable>"};
    snapshot.records.push_back(std::move(view));
  }
  return snapshot;
}

std::optional<Snapshot> reopenSnapshot(const std::string& base) {
  std::unique_ptr<Database> db = openTestDatabase(base);
  if (!db) return std::nullopt;
  return snapshotOf(*db);
}

std::string inconsistencies(Database& db) {
  std::ostringstream problems;
  const std::vector<int32_t>& positions = db.records().positions();
  if (db.numRecs() != static_cast<int32_t>(positions.size())) problems << "numRecs differs from positions; ";
  const std::vector<uint8_t> partial(static_cast<size_t>(db.fieldCount()), 0);
  FieldValues noTerms;
  for (int32_t f = 0; f < db.fieldCount(); ++f) noTerms.add("");
  if (db.find(partial, noTerms) != positions) problems << "find(everything) differs from positions; ";
  if (std::set<int32_t>(positions.begin(), positions.end()).size() != positions.size())
    problems << "a position is listed twice; ";
  FieldValues values;
  for (const int32_t position : positions) {
    if (!db.getRecord(position, values) || values.size() != db.fieldCount()) {
      problems << "record @" << position << " unreadable; ";
      continue;
    }
    if (db.fieldCount() == 0) continue;
    if (db.keyIndexEnabled() && db.getPos(values[0]) != position)
      problems << "key " << values[0] << " not found at @" << position << "; ";
    for (int32_t f = 0; f < db.fieldCount(); ++f) {
      if (!db.schema().indexed.at(f)) continue;
      FieldValues term;
      for (int32_t g = 0; g < db.fieldCount(); ++g) term.add(g == f ? values[f] : std::string_view());
      const std::vector<int32_t> found = db.find(partial, term);
      bool listed = false;
      for (const int32_t p : found) listed = listed || p == position;
      if (!listed) problems << "field " << f << " of @" << position << " not found; ";
    }
  }
  return problems.str();
}

int runInChild(const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    body();
    std::fflush(nullptr);
    _Exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

namespace {

bool updateKey(Database& db, const std::string& key, const std::vector<std::string>& values) {
  const int32_t position = db.getPos(key);
  return position >= 0 && db.updateRecord(position, valuesOf(values));
}

bool deleteKey(Database& db, const std::string& key) {
  const int32_t position = db.getPos(key);
  return position >= 0 && db.deleteRecord(position);
}

}  // namespace

std::vector<Scenario> recordScenarios() {
  return {
      {"append", 4, [](Database& db) { return db.write(valuesOf({"new", "Oslo", "fresh"})) == WriteStatus::appended; }},
      {"append to an empty database", 0,
       [](Database& db) { return db.write(valuesOf({"first", "Rome", "one"})) == WriteStatus::appended; }},
      {"update in place", 4, [](Database& db) { return updateKey(db, "k1", {"k1", "CITY1", "NOTE 1"}); }},
      {"update shrinking in place", 4, [](Database& db) { return updateKey(db, "k2", {"k2", "c", ""}); }},
      {"update moving the record", 4,
       [](Database& db) { return updateKey(db, "k1", {"k1", "a much longer city", "a much longer note"}); }},
      {"update moving the record to a new key", 4,
       [](Database& db) { return updateKey(db, "k2", {"renamed", "city2", "grown note 2"}); }},
      {"delete the first record", 4, [](Database& db) { return deleteKey(db, "k0"); }},
      {"delete a middle record", 5, [](Database& db) { return deleteKey(db, "k2"); }},
      {"delete the last record", 4, [](Database& db) { return deleteKey(db, "k3"); }},
      {"delete the only record", 1, [](Database& db) { return deleteKey(db, "k0"); }},
  };
}

std::string testNameOf(int scenario) {
  const std::string name = recordScenarios()[static_cast<size_t>(scenario)].name;
  std::string out;
  for (const char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out;
}

}  // namespace mero::test
