#pragma once
// KeyIndex: a record's first field -> its position, when the database was
// opened with the key index. Keys are the plain bytes as written (not
// upper-cased), ordered as unsigned bytes; an insert never overwrites.
//
// Invariant: every entry's position is the current position of a live record
// whose first field equals the key. Two live records can share a first field
// (written with the key index off, or updated onto another's key); then only
// one of them has the entry, and removal goes by position so that the other
// record's entry is never dropped by mistake.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace mero {

class KeyIndex {
 public:
  bool lookupKey(std::string_view key, int32_t& position) const {
    const auto it = map_.find(key);
    if (it == map_.end()) return false;
    position = it->second;
    return true;
  }
  void insertKey(std::string_view key, int32_t position) { insertAt(probe(key), key, position); }
  // Removes the entry of key only when it points at position.
  void removeKey(std::string_view key, int32_t position) {
    const auto it = map_.find(key);
    if (it != map_.end() && it->second == position) map_.erase(it);
  }
  // One descent of the tree for an append: whether the key is there, and
  // where it would go. Valid until the index next changes.
  struct Probe {
    std::map<std::string, int32_t, std::less<>>::iterator at;
    bool found;
  };
  Probe probe(std::string_view key) {
    const auto at = map_.lower_bound(key);
    return Probe{at, at != map_.end() && at->first == key};
  }
  void insertAt(const Probe& probe, std::string_view key, int32_t position) {
    if (!probe.found) map_.emplace_hint(probe.at, std::string(key), position);
  }

  size_t size() const { return map_.size(); }
  void clear() { map_.clear(); }

 private:
  std::map<std::string, int32_t, std::less<>> map_;
};

}  // namespace mero
