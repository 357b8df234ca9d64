#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "engine/byte_hash.h"
#include "engine/index_file.h"
#include "engine/record_format.h"
#include "engine/schema.h"
#include "foundation/int32_codec.h"

namespace mero::test {

// The engine draws its hash key at random per process; the tests fix it, so
// that every run builds the same tables and a failure repeats.
const HashKey kTestHashKey{0x5EED0001C0FFEE11ull, 0x0DDBA11CAFEF00D5ull};
namespace {
[[maybe_unused]] const bool hashKeyFixed = (fixHashKeyForTesting(kTestHashKey), true);
}  // namespace

TempDir::TempDir(const std::string& preferred) {
  static std::atomic<int> made{0};
  const char* root = std::getenv("MERO_TEST_TMP");
  const std::filesystem::path parent = !preferred.empty() && std::filesystem::is_directory(preferred)
                                           ? std::filesystem::path(preferred)
                                       : root != nullptr && *root != 0 ? std::filesystem::path(root)
                                                                       : std::filesystem::temp_directory_path();
  dir_ = parent / ("mero-test-" + std::to_string(getpid()) + "-" + std::to_string(made++));
  std::filesystem::remove_all(dir_);
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

std::string le32(int32_t value) {
  char b[4];
  encodeInt32(value, b);
  return std::string(b, 4);
}

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (const int b : list) out.push_back(static_cast<char>(b));
  return out;
}

FieldValues values(const Record& record) {
  FieldValues out;
  for (const std::string& v : record) out.add(v);
  return out;
}

Record toRecord(const FieldValues& list) {
  Record out;
  for (int32_t i = 0; i < list.size(); ++i) out.emplace_back(list[i]);
  return out;
}

void defineSchema(const std::string& base, const std::vector<bool>& indexed) {
  const auto n = static_cast<int32_t>(indexed.size());
  DbArray<uint8_t> flags(n, 0);
  DbArray<DbString> names(n, DbString());
  for (int32_t i = 0; i < n; ++i) {
    flags.at(i) = indexed[static_cast<size_t>(i)] ? 1 : 0;
    names.at(i) = ("f" + std::to_string(i)).c_str();
  }
  if (!defineSchema(base, flags, names)) throw std::runtime_error("define failed");
}

void LetGoAndClose::operator()(Database* db) const {
  db->lock().leave();
  delete db;
}

HeldDatabase held(std::unique_ptr<Database> db) {
  if (db != nullptr) db->lock().enter();
  return HeldDatabase(db.release());
}

std::unique_ptr<Database> letGo(HeldDatabase db) {
  if (db != nullptr) db->lock().leave();
  return std::unique_ptr<Database>(db.release());
}

HeldDatabase createDatabase(const std::string& base, const std::vector<bool>& indexed, const std::string& key,
                            bool useKeyIndex) {
  defineSchema(base, indexed);
  return held(Database::open(base, key, useKeyIndex));
}

void createStandardDatabase(const std::string& base, int records, size_t valueBytes) {
  defineSchema(base, {true, true, false});
  HeldDatabase db = openStandardDatabase(base);
  if (!db) throw std::runtime_error("open failed");
  for (int i = 0; i < records; ++i) {
    const std::string n = std::to_string(i);
    const std::string padding(valueBytes, 'x');
    if (db->write(values({"k" + n, "city" + std::to_string(i % 3) + padding, "note " + n + padding})) !=
        WriteStatus::appended)
      throw std::runtime_error("setup write failed");
  }
}

HeldDatabase openStandardDatabase(const std::string& base, OpenFailure* failure, SyncMode sync) {
  return held(Database::open(base, kKey, true, failure, sync));
}

Snapshot snapshotOf(const Database& db) {
  Snapshot snapshot;
  FieldValues read;
  for (const int32_t position : db.records().positionList()) {
    LiveRecord record{position, {"<unreadable>"}};
    if (db.getRecord(position, read)) record.values = toRecord(read);
    snapshot.push_back(std::move(record));
  }
  return snapshot;
}

std::string describe(const Snapshot& snapshot) {
  std::ostringstream out;
  out << snapshot.size() << " records:";
  for (const LiveRecord& r : snapshot) {
    out << " @" << r.position << "[";
    for (size_t i = 0; i < r.values.size(); ++i) out << (i ? "|" : "") << r.values[i].substr(0, 24);
    out << "]";
  }
  return out.str();
}

namespace {

bool contains(const std::vector<int32_t>& list, int32_t value) {
  for (const int32_t v : list)
    if (v == value) return true;
  return false;
}

void checkIndexFile(const Database& db, const std::string& base, std::ostringstream& problems) {
  const std::string bytes = readFile(base + ".idx");
  const std::vector<int32_t>& positions = db.records().positionList();
  if (bytes.size() < 4) {
    if (!positions.empty()) problems << "index file holds no count; ";
    return;
  }
  const int32_t count = decodeInt32(bytes.data());
  if (count != db.numRecs() || count != static_cast<int32_t>(positions.size())) {
    problems << "index count " << count << " but " << positions.size() << " live records; ";
    return;
  }
  for (int32_t r = 0; r < count; ++r) {
    if (entryOffset(r) + 4 > static_cast<int64_t>(bytes.size()) ||
        decodeInt32(bytes.data() + entryOffset(r)) != positions[static_cast<size_t>(r)]) {
      problems << "index entry " << r << " differs from memory; ";
      return;
    }
  }
}

void checkRecord(const Database& db, uint32_t slot, const FieldValues& record, bool searchFor,
                 std::ostringstream& problems) {
  const int32_t position = db.records().positionOfSlot(slot);
  std::string upper;
  for (int32_t f = 0; f < db.fieldCount(); ++f) {
    if (!db.isIndexed(f)) continue;
    upper.assign(record[f]);
    upperCase(upper.data(), upper.size());
    if (db.searchText(f).valueOf(slot) != upper) problems << "search text of @" << position << " field " << f << "; ";
    if (searchFor && db.valueHashes(f).built() && !db.valueHashes(f).leadsTo(upper, slot))
      problems << "value hash misses @" << position << " field " << f << "; ";
  }
  if (db.fieldCount() == 0) return;
  // The key index leads only to live records that hold the key. (A record
  // that shares its first field with another may be reachable by neither
  // key until the next open, after the other was updated or deleted.)
  FieldValues owner;
  uint32_t ownerSlot = 0;
  const int32_t keyed = db.getPos(record[0]);
  if (keyed >= 0 && (!db.records().slotOf(keyed, ownerSlot) || !db.getRecord(keyed, owner) || owner[0] != record[0]))
    problems << "key of @" << position << " leads to another record; ";
  // The record's own values find it, by whole value and by substring.
  for (int32_t f = 0; searchFor && f < db.fieldCount() && f < 4; ++f) {
    FieldValues terms;
    for (int32_t g = 0; g < db.fieldCount(); ++g) terms.add(g == f ? record[f] : std::string_view());
    for (const uint8_t partial : {0, 1}) {
      const std::vector<uint8_t> flags(static_cast<size_t>(db.fieldCount()), partial);
      if (!record[f].empty() && !contains(db.find(flags, terms), position))
        problems << "field " << f << " of @" << position << " does not find it; ";
    }
  }
}

}  // namespace

std::string checkConsistency(const Database& db, const std::string& base) {
  std::ostringstream problems;
  const RecordTable& records = db.records();
  const std::vector<int32_t>& positions = records.positionList();
  checkIndexFile(db, base, problems);
  if (std::set<int32_t>(positions.begin(), positions.end()).size() != positions.size())
    problems << "a position is listed twice; ";
  const std::vector<uint8_t> everything(static_cast<size_t>(db.fieldCount()), 0);
  FieldValues noTerms;
  for (int32_t f = 0; f < db.fieldCount(); ++f) noTerms.add("");
  if (db.find(everything, noTerms) != positions) problems << "find of everything differs from the positions; ";

  int32_t live = 0;
  FieldValues record;
  for (uint32_t slot = 0; slot < records.slotCount(); ++slot) {
    if (!records.isLive(slot)) continue;
    const int32_t position = records.positionOfSlot(slot);
    if (live >= static_cast<int32_t>(positions.size()) || positions[static_cast<size_t>(live)] != position ||
        records.recordNumberOf(slot) != live)
      problems << "slot " << slot << " out of record order; ";
    ++live;
    if (!db.getRecord(position, record) || record.size() != db.fieldCount()) {
      problems << "record @" << position << " unreadable; ";
      continue;
    }
    // Searches scan, so a large database is searched for a sample of records.
    const int32_t every = std::max<int32_t>(1, static_cast<int32_t>(positions.size()) / 16);
    checkRecord(db, slot, record, (live - 1) % every == 0, problems);
  }
  if (live != static_cast<int32_t>(positions.size())) problems << "live slots differ from positions; ";
  return problems.str();
}

struct Deadline::Watch {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread watcher;
};

Deadline::Deadline(int seconds, std::string what) : watch_(std::make_unique<Watch>()) {
  watch_->watcher = std::thread([watch = watch_.get(), seconds, what = std::move(what)] {
    std::unique_lock<std::mutex> lock(watch->mutex);
    if (watch->ended.wait_for(lock, std::chrono::seconds(seconds), [&] { return watch->done; })) return;
    std::fprintf(stderr, "%s: still running after %d s; it loops\n", what.c_str(), seconds);
    std::fflush(nullptr);
    std::_Exit(1);
  });
}

Deadline::~Deadline() {
  {
    std::lock_guard<std::mutex> lock(watch_->mutex);
    watch_->done = true;
  }
  watch_->ended.notify_one();
  watch_->watcher.join();
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

}  // namespace mero::test
