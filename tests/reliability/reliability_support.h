#pragma once
// Helpers shared by the crash, failure, thread and hostile-input tests: a
// scratch directory, a small database built the same way every time, a
// snapshot of everything a caller can observe, and a way to run code in a
// child process that may die.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/database.h"
#include "engine/field_values.h"

namespace mero::test {

// A fresh directory under $MERO_TEST_TMP (or /tmp), removed with its
// contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string base(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

FieldValues valuesOf(const std::vector<std::string>& values);
std::vector<std::string> toStrings(const FieldValues& values);

// The three-field test database: name (indexed, the key), city (indexed),
// note. Its key is kKey and the key index is on.
inline constexpr const char* kKey = "s3cret-key";
void defineTestSchema(const std::string& base);
// Defines the schema and appends records k0 .. k{n-1}, then closes.
void createTestDatabase(const std::string& base, int records);
std::unique_ptr<Database> openTestDatabase(const std::string& base);

// Everything observable about the live records, in record order.
struct RecordView {
  int32_t position;
  std::vector<std::string> values;
  bool operator==(const RecordView&) const = default;
};
struct Snapshot {
  std::vector<RecordView> records;
  bool operator==(const Snapshot&) const = default;
  // The same values in the same order, wherever the records now stand.
  bool sameValues(const Snapshot& other) const;
  std::string describe() const;
};

// The engine's view: positions, and each record read back at its position.
Snapshot snapshotOf(Database& db);
// Opens the files afresh; nullopt when open fails.
std::optional<Snapshot> reopenSnapshot(const std::string& base);

// Empty when the engine's structures agree with each other: count, find of
// everything, positions unique, each record readable, every first field
// found by key at its record (the test data never repeats a first field),
// and each indexed value found by find. Otherwise what disagrees.
std::string inconsistencies(Database& db);

// Runs body in a forked child that ends with _Exit(0) when body returns.
// Returns the exit status, or 128 + the signal that ended the child.
int runInChild(const std::function<void()>& body);

// A record operation of the crash and failure tests, run on a database made
// by createTestDatabase(base, recordsBefore). True when acknowledged.
struct Scenario {
  std::string name;
  int recordsBefore;
  std::function<bool(Database&)> run;
};
std::vector<Scenario> recordScenarios();
// Scenario i's name as a test name: letters and digits only.
std::string testNameOf(int scenario);

}  // namespace mero::test
