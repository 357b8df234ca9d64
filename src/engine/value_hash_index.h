#pragma once
// ValueHashIndex: for one indexed field, a hash from a value's stored bytes
// (upper-cased, enciphered, exactly as the search pool holds them) to the
// slots that held that value when it was placed. It answers whole-value
// terms without visiting every record.
//
// Entries are never removed one by one: a slot that was deleted or given
// another value stays in its old chain, and every candidate is checked
// against the pool's current bytes before it counts. When stale entries
// outnumber the live ones, the whole index is rebuilt from the pool.

#include <cstdint>
#include <string_view>
#include <vector>

namespace mero {

class ValueHashIndex {
 public:
  void clear();
  void reserve(size_t entries);
  void add(uint32_t slot, std::string_view stored);

  // Candidate slots for a value, newest first. May hold stale or repeated
  // slots; the caller verifies each against the pool.
  template <typename Visit>
  void forEachCandidate(std::string_view stored, Visit visit) const {
    if (heads_.empty()) return;
    for (uint32_t node = heads_[bucketOf(stored)]; node != 0; node = nodes_[node - 1].next)
      visit(nodes_[node - 1].slot);
  }

  // Whether the chain of a value leads to slot (for checks of the index).
  bool leadsTo(std::string_view stored, uint32_t slot) const {
    if (heads_.empty()) return false;
    for (uint32_t node = heads_[bucketOf(stored)]; node != 0; node = nodes_[node - 1].next)
      if (nodes_[node - 1].slot == slot) return true;
    return false;
  }

  size_t entries() const { return nodes_.size(); }

 private:
  struct Node {
    uint32_t slot;
    uint32_t next;  // node index + 1, 0 ends the chain
  };
  size_t bucketOf(std::string_view stored) const;
  void grow(size_t buckets);

  std::vector<uint32_t> heads_;  // node index + 1 per bucket, 0 for none
  std::vector<Node> nodes_;
  std::vector<uint64_t> hashes_;  // per node, to rehash without the pool
};

}  // namespace mero
