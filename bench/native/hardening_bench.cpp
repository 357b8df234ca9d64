// Figures for the engine's defences, each as a ratio against the same work
// done the ordinary way in the same run:
//   collisions  50,000 keys (and, apart, 50,000 indexed values) that all
//               share one hash, against random ones: append, find, open.
//               The hash is keyed and secret, so nobody can choose such keys;
//               the benchmark narrows the hash to nothing to make them, which
//               is what an attacker who knew the key would achieve.
//   shared      300,000 records sharing an indexed value, all updated to a
//               new common value oldest-first, newest-first and at random.
//   memory      100,000 live records while rounds append 500,000 records
//               and delete them again: memory held after each round.
// Usage: mero_hardening_bench [--quick] [collisions|shared|memory]...
//   --quick  a tenth of the sizes (shows it works, not the figures)

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/byte_hash.h"
#include "engine/database.h"
#include "engine/schema.h"

namespace {

using namespace mero;
using Clock = std::chrono::steady_clock;

int scale = 1;  // sizes are divided by it

double secondsOf(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Scratch {
 public:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mero-hardening-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
    dir_ = pattern;
  }
  ~Scratch() { std::filesystem::remove_all(dir_); }
  // A fresh database of fields key (not indexed) and value (indexed).
  std::string fresh(const std::string& name) const {
    const std::string base = dir_ + "/" + name;
    DbArray<uint8_t> indexed(2, 0);
    indexed.at(1) = 1;
    DbArray<DbString> names(2, DbString());
    names.at(0) = "key";
    names.at(1) = "value";
    if (!defineSchema(base, indexed, names)) throw std::runtime_error("define failed");
    return base;
  }

 private:
  std::string dir_;
};

std::unique_ptr<Database> openOrThrow(const std::string& base) {
  std::unique_ptr<Database> db = Database::open(base, "bench-key", true);
  if (!db) throw std::runtime_error("open failed");
  return db;
}

FieldValues record(const std::string& key, const std::string& value) {
  FieldValues values;
  values.add(key);
  values.add(value);
  return values;
}

const HashKey kBenchKey{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull};

// Keys crafted against the unkeyed hash the tables used before: 16 bytes,
// the second word chosen so that the state after it is the same for every
// key, so that all of them shared one 64-bit hash under that function.
// Their bytes are those an upper-cased value keeps (no a-z), and no zero.
std::vector<std::string> craftedAgainstUnkeyedHash(int n) {
  constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  constexpr uint64_t kTarget = 0x5DEECE66DA3B1F27ull;
  const auto usable = [](uint64_t word) {
    for (int b = 0; b < 8; ++b) {
      const auto c = static_cast<unsigned char>(word >> (8 * b));
      if (c == 0 || (c >= 'a' && c <= 'z')) return false;
    }
    return true;
  };
  std::mt19937_64 random(9);
  std::vector<std::string> keys;
  while (static_cast<int>(keys.size()) < n) {
    uint64_t first = 0;
    for (int b = 0; b < 8; ++b) first |= uint64_t{static_cast<unsigned char>('A' + random() % 26)} << (8 * b);
    uint64_t state = (16 * kOdd ^ first) * kOdd;
    state ^= state >> 32;
    const uint64_t second = state ^ kTarget;
    if (!usable(second)) continue;
    std::string key(16, '\0');
    std::memcpy(key.data(), &first, 8);
    std::memcpy(key.data() + 8, &second, 8);
    keys.push_back(std::move(key));
  }
  return keys;
}

struct Costs {
  double append, find, open;
};

// Appends a record for each of the distinct keys (or values), finds each by
// key (or by whole value), and reopens.
Costs measure(const Scratch& scratch, const std::string& name, bool keys, const std::vector<std::string>& distinct) {
  const std::string base = scratch.fresh(name);
  const auto n = static_cast<int>(distinct.size());
  Costs costs{};
  std::unique_ptr<Database> db = openOrThrow(base);
  costs.append = secondsOf([&] {
    for (int i = 0; i < n; ++i) {
      const std::string& d = distinct[static_cast<size_t>(i)];
      if (db->write(record(keys ? d : "k" + std::to_string(i), keys ? "v" : d)) != WriteStatus::appended)
        throw std::runtime_error("append refused");
    }
  });
  const std::vector<uint8_t> whole{0, 0};
  size_t found = 0;
  costs.find = secondsOf([&] {
    for (const std::string& d : distinct) found += keys ? db->getPos(d) >= 0 : db->find(whole, record("", d)).size();
  });
  if (found != distinct.size()) throw std::runtime_error("finds missed records");
  db.reset();
  costs.open = secondsOf([&] { db = openOrThrow(base); });
  return costs;
}

void collisions() {
  const int n = 50000 / scale;
  Scratch scratch;
  std::mt19937_64 random(42);
  std::vector<std::string> distinct(static_cast<size_t>(n));
  for (std::string& s : distinct) s = "X" + std::to_string(random());
  const std::vector<std::string> crafted = craftedAgainstUnkeyedHash(n);
  std::printf("collisions: %d keys, and apart %d indexed values (seconds; ratio to random ones)\n", n, n);
  std::printf("  crafted: all sharing one hash under the former unkeyed function\n");
  std::printf("  one hash: all sharing one hash here (the hash narrowed to nothing, as if the key were known)\n");
  const auto row = [](const char* what, const Costs& c, const Costs& random) {
    std::printf("  %-16s append %.3f (%.2fx)  find %.3f (%.2fx)  open %.3f (%.2fx)\n", what, c.append,
                c.append / random.append, c.find, c.find / random.find, c.open, c.open / random.open);
  };
  for (const bool keys : {true, false}) {
    const std::string kind = keys ? "keys" : "values";
    fixHashKeyForTesting(kBenchKey);
    const Costs randomCosts = measure(scratch, "random-" + kind, keys, distinct);
    const Costs craftedCosts = measure(scratch, "crafted-" + kind, keys, crafted);
    fixHashKeyForTesting(kBenchKey, 0);  // every hash is 0
    const Costs oneHash = measure(scratch, "one-hash-" + kind, keys, distinct);
    fixHashKeyForTesting(kBenchKey);
    row((kind + " random").c_str(), randomCosts, randomCosts);
    row((kind + " crafted").c_str(), craftedCosts, randomCosts);
    row((kind + " one hash").c_str(), oneHash, randomCosts);
  }
}

void shared() {
  const int n = 300000 / scale;
  Scratch scratch;
  std::printf("shared value: %d records updated from one common value to another (seconds; vs oldest-first)\n", n);
  const char* orders[] = {"oldest-first", "newest-first", "random"};
  double first = 0;
  for (int order = 0; order < 3; ++order) {
    const std::string base = scratch.fresh(orders[order]);
    std::unique_ptr<Database> db = openOrThrow(base);
    for (int i = 0; i < n; ++i)
      if (db->write(record("t" + std::to_string(i), "open")) != WriteStatus::appended)
        throw std::runtime_error("append refused");
    std::vector<std::pair<int32_t, int>> records;  // position, number of the key
    for (int i = 0; i < n; ++i) records.emplace_back(db->records().positionAt(i), i);
    if (order == 1) std::reverse(records.begin(), records.end());
    if (order == 2) std::shuffle(records.begin(), records.end(), std::mt19937(7));
    const std::vector<uint8_t> whole{0, 0};
    const double seconds = secondsOf([&] {
      for (const auto& [position, i] : records)
        if (!db->updateRecord(position, record("t" + std::to_string(i), "done")))
          throw std::runtime_error("update refused");
      if (db->find(whole, record("", "done")).size() != records.size()) throw std::runtime_error("lost records");
    });
    if (order == 0) first = seconds;
    std::printf("  %-12s %.3f (%.2fx)\n", orders[order], seconds, seconds / first);
  }
}

size_t allocatedBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  size_t resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

void memory() {
  const int live = 100000 / scale;
  const int churn = 500000 / scale;
  Scratch scratch;
  const std::string base = scratch.fresh("churn");
  std::unique_ptr<Database> db = openOrThrow(base);
  int next = 0;
  const auto append = [&] {
    const std::string n = std::to_string(next++);
    if (db->write(record("key-" + n, "value of record " + n)) != WriteStatus::appended)
      throw std::runtime_error("append refused");
  };
  for (int i = 0; i < live; ++i) append();
  malloc_trim(0);
  const double mib = 1024.0 * 1024.0;
  const size_t allocated = allocatedBytes();
  const size_t resident = residentBytes();
  std::printf("memory: %d live records, rounds of %d appends and deletes (MiB grown since the first round)\n", live,
              churn);
  for (int round = 1; round <= 4; ++round) {
    for (int i = 0; i < churn; ++i) append();
    // Newest first, as a queue drains what it just took in.
    for (int i = 0; i < churn; ++i)
      if (!db->deleteRecord(db->records().lastPosition())) throw std::runtime_error("delete refused");
    // Resident as the allocator left it, and once it has given back what it
    // keeps free: the engine's own growth is the allocated figure.
    const double held = (static_cast<double>(residentBytes()) - static_cast<double>(resident)) / mib;
    malloc_trim(0);
    std::printf("  round %d: allocated %+.1f, resident %+.1f (%+.1f once the allocator trims)\n", round,
                (static_cast<double>(allocatedBytes()) - static_cast<double>(allocated)) / mib, held,
                (static_cast<double>(residentBytes()) - static_cast<double>(resident)) / mib);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> parts;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      scale = 10;
    } else if (std::strcmp(argv[i], "collisions") == 0 || std::strcmp(argv[i], "shared") == 0 ||
               std::strcmp(argv[i], "memory") == 0) {
      parts.emplace_back(argv[i]);
    } else {
      std::fprintf(stderr, "usage: mero_hardening_bench [--quick] [collisions|shared|memory]...\n");
      return 64;
    }
  }
  if (parts.empty()) parts = {"collisions", "shared", "memory"};
  try {
    for (const std::string& part : parts) {
      if (part == "collisions") collisions();
      if (part == "shared") shared();
      if (part == "memory") memory();
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mero_hardening_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
