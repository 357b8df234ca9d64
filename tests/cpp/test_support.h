#pragma once
// The one support library of the native tests and fuzzers: scratch
// directories, files, values, the standard test database, what a caller can
// observe of a database, the consistency check, and child processes.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/byte_hash.h"
#include "engine/database.h"
#include "engine/field_values.h"

namespace mero::test {

// The hash key every native test runs under (fixed before main).
extern const HashKey kTestHashKey;

// A fresh directory under $MERO_TEST_TMP (or the system's, or `parent`
// when given and present), removed with its contents when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string le32(int32_t value);
std::string bytes(std::initializer_list<int> values);  // "\x02\x00..." from numbers

using Record = std::vector<std::string>;
FieldValues values(const Record& record);
Record toRecord(const FieldValues& values);

// Record operations need the engine's lock held by their caller, which
// debug builds assert. A test drives an engine from one thread, so the
// engines opened here come with the lock held, let go just before closing.
struct LetGoAndClose {
  void operator()(Database* db) const;
};
using HeldDatabase = std::unique_ptr<Database, LetGoAndClose>;
HeldDatabase held(std::unique_ptr<Database> db);
// For calls that take an engine outright, its lock not held (compact()).
std::unique_ptr<Database> letGo(HeldDatabase db);

// Defines base.str with fields f0, f1, ... (true = indexed).
void defineSchema(const std::string& base, const std::vector<bool>& indexed);
HeldDatabase createDatabase(const std::string& base, const std::vector<bool>& indexed, const std::string& key = "key",
                            bool useKeyIndex = true);

// The standard database of the fault tests: name (indexed, the key), city
// (indexed), note; records k0 .. k{n-1}, each value of `valueBytes` bytes or
// more, so that images can be made to span pages.
inline constexpr const char* kKey = "s3cret-key";
void createStandardDatabase(const std::string& base, int records, size_t valueBytes = 0);
HeldDatabase openStandardDatabase(const std::string& base, OpenFailure* failure = nullptr,
                                  SyncMode sync = SyncMode::close);

// Everything a caller can observe of the live records, in record order.
struct LiveRecord {
  int32_t position;
  Record values;
  bool operator==(const LiveRecord&) const = default;
};
using Snapshot = std::vector<LiveRecord>;
Snapshot snapshotOf(const Database& db);
std::string describe(const Snapshot& snapshot);

// Empty when the database is sound; otherwise each problem found. Checks the
// index file on disk against the record table, that every live image is
// well formed and reads back, that the search texts, value
// hashes and key index agree with each record's values, and that a record's
// own values (of up to four fields) find it, on indexed and plain fields.
std::string checkConsistency(const Database& db, const std::string& base);

// Ends the process with a message naming `what` unless the scope ends within
// `seconds`: a test whose fault would show as a loop that never ends fails
// at once and says where, rather than at ctest's time limit. The limit is
// far above the normal run, sanitizers included; it measures nothing.
class Deadline {
 public:
  Deadline(int seconds, std::string what);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;
};

// Runs body in a forked child that ends with _Exit(0) when body returns.
// Returns the exit status, or 128 + the signal that ended the child.
int runInChild(const std::function<void()>& body);

}  // namespace mero::test
