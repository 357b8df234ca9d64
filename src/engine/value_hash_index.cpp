#include "engine/value_hash_index.h"

#include <functional>

namespace mero {

namespace {
uint64_t hashOf(std::string_view bytes) { return std::hash<std::string_view>{}(bytes); }
}  // namespace

void ValueHashIndex::clear() {
  heads_.clear();
  nodes_.clear();
  hashes_.clear();
}

size_t ValueHashIndex::bucketOf(std::string_view stored) const {
  return static_cast<size_t>(hashOf(stored)) & (heads_.size() - 1);
}

void ValueHashIndex::reserve(size_t entries) {
  nodes_.reserve(entries);
  hashes_.reserve(entries);
  size_t buckets = 1024;
  while (buckets < entries) buckets *= 2;
  if (buckets > heads_.size()) grow(buckets);
}

void ValueHashIndex::grow(size_t buckets) {
  heads_.assign(buckets, 0);
  // Chains keep newest-first order: relink the nodes oldest first.
  for (uint32_t i = 0; i < nodes_.size(); ++i) {
    const size_t b = static_cast<size_t>(hashes_[i]) & (buckets - 1);
    nodes_[i].next = heads_[b];
    heads_[b] = i + 1;
  }
}

void ValueHashIndex::add(uint32_t slot, std::string_view stored) {
  if (nodes_.size() + 1 > heads_.size()) grow(heads_.empty() ? 1024 : 2 * heads_.size());
  const uint64_t hash = hashOf(stored);
  const size_t b = static_cast<size_t>(hash) & (heads_.size() - 1);
  nodes_.push_back(Node{slot, heads_[b]});
  hashes_.push_back(hash);
  heads_[b] = static_cast<uint32_t>(nodes_.size());
}

}  // namespace mero
