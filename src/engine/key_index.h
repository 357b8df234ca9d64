#pragma once
// KeyIndex: a record's first field -> its position, when the database was
// opened with the key index. Keys are the plain bytes as written (not
// upper-cased) and compared byte for byte; an insert never overwrites.
//
// Invariant: every entry's position is the current position of a live record
// whose first field equals the key. Two live records can share a first field
// (written with the key index off, or updated onto another's key); then only
// one of them has the entry, and removal goes by position so that the other
// record's entry is never dropped by mistake.
//
// Layout: an open-addressing table (linear probing, at most 80% full) of
// 12-byte entries holding the key's hash, the position and where the key
// lies in one shared byte array (a 4-byte length, then the bytes). A lookup
// touches one or two table lines and the key's bytes; nothing is allocated
// per key. Removal shifts the following entries back, so no tombstones build
// up. The bytes of removed keys stay in the array until they outnumber the
// live ones; then the array is rebuilt from the live entries (amortised,
// like the search text). The table shrinks when it is mostly empty.
//
// Bounded probes: an entry lies at most kProbeLimit places past its home,
// with fewer than kSameHashLimit entries of its very hash before it. One that
// finds no such place (keys whose hashes collide, which the keyed hash leaves
// to chance) goes to `overflow`, an ordered map, so that even keys that all
// share one hash cost a few comparisons and a logarithm each, never a scan.
// A lookup that ends its bounded run without the key asks the overflow map.
// Entries of one hash share a home and keep their order through removals,
// so the bound on those before an entry holds while it stays.

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace mero {

class KeyIndex {
 public:
  static constexpr size_t kProbeLimit = 64;
  static constexpr size_t kSameHashLimit = 8;

  bool lookupKey(std::string_view key, int32_t& position) const { return lookupHashed(hashOf(key), key, position); }
  void insertKey(std::string_view key, int32_t position) { insertAt(probe(key), key, position); }
  // Removes the entry of key only when it points at position.
  void removeKey(std::string_view key, int32_t position);

  // One probe for an append: whether the key is there, and its hash. Valid
  // until the index next changes.
  struct Probe {
    uint32_t hash = 0;
    bool found = false;
  };
  Probe probe(std::string_view key) const {
    const uint32_t hash = hashOf(key);
    int32_t ignored = 0;
    return Probe{hash, lookupHashed(hash, key, ignored)};
  }
  void insertAt(const Probe& probe, std::string_view key, int32_t position);

  // Makes room for this many keys without regrowing.
  void reserve(size_t keys);

  // Loading at open: keys are collected in record order and placed all at
  // once, in the order of their home places, so the table is written front
  // to back rather than at random. An earlier-loaded key wins over a later
  // equal one, as with insertKey. No lookups until finishLoading.
  void beginLoading(size_t keys);
  void load(std::string_view key, int32_t position) {
    pending_.push_back(Entry{hashOf(key), position, appendKey(key)});
  }
  void finishLoading();
  bool loading() const { return loading_; }
  size_t size() const { return count_; }
  void clear();
  // Bytes of keys held, live and removed (for checks of the reclaiming).
  size_t keyBytes() const { return keys_.size(); }
  // The hash the table keeps of a key (for tests that need keys sharing one).
  static uint32_t hashOf(std::string_view key);
  // Asserts the invariants above (debug builds; after each change there).
  void checkInvariants() const;

 private:
  struct Entry {
    uint32_t hash;       // the key's hash; its low bits choose the home place
    int32_t position;    // -1: the entry is empty
    uint32_t keyOffset;  // in keys_: where its length and bytes start
  };
  bool lookupHashed(uint32_t hash, std::string_view key, int32_t& position) const;
  uint32_t lengthAt(uint32_t offset) const {
    uint32_t n = 0;
    std::memcpy(&n, keys_.data() + offset, 4);
    return n;
  }
  std::string_view keyOf(const Entry& e) const { return {keys_.data() + e.keyOffset + 4, lengthAt(e.keyOffset)}; }
  uint32_t appendKey(std::string_view key) {
    const auto offset = static_cast<uint32_t>(keys_.size());
    const auto n = static_cast<uint32_t>(key.size());
    keys_.append(reinterpret_cast<const char*>(&n), 4);
    keys_.append(key);
    return offset;
  }
  void resize(size_t capacity);
  enum class Placed { near, crowded, colliding };
  // Puts an absent key's entry into the first empty place within the limits;
  // otherwise says which limit it met.
  Placed placeNear(const Entry& entry);
  void overflow(const Entry& entry);
  void placeOrOverflow(const Entry& entry);
  bool placeUnlessPresent(const Entry& entry);
  void compactKeysIfMostlyDead();
  void compactKeys();

  std::vector<Entry> table_;  // a power of two in size, or empty
  size_t mask_ = 0;
  size_t count_ = 0;  // entries, in the table and overflowed
  std::string keys_;
  size_t deadKeyBytes_ = 0;
  std::map<std::string, int32_t, std::less<>> overflow_;
  std::vector<Entry> pending_;
  bool loading_ = false;
  [[maybe_unused]] uint32_t changesUnchecked_ = 0;  // debug builds: changes since the last full check
};

}  // namespace mero
