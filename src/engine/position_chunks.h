#pragma once
// PositionChunks: the live records' positions by record number, kept in
// chunks of at most kChunkEntries (4 KiB) so that removing one record moves
// the entries of its chunk only, not every entry after it. A small directory
// holds each chunk's first record number; finding record r is a binary
// search over it.
//
// Invariants: every chunk holds 1..kChunkEntries entries; two neighbouring
// chunks together hold more than kChunkEntries, so n entries take at most
// 2n / kChunkEntries + 1 chunks; firsts_[c] is the number of entries in the
// chunks before c.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace mero {

class PositionChunks {
 public:
  static constexpr size_t kChunkEntries = 1024;

  // A stretch of consecutive entries, in record order.
  struct Run {
    const int32_t* entries;
    size_t count;
  };

  void clear();
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  int32_t at(size_t r) const;
  int32_t back() const { return at(size_ - 1); }
  void set(size_t r, int32_t position);
  void push_back(int32_t position);
  void erase(size_t r);
  // The entries of records from..size()-1, as runs in record order.
  void runsFrom(size_t from, std::vector<Run>& out) const;
  std::vector<int32_t> toVector() const;
  size_t chunkCount() const { return chunks_.size(); }

  // Asserts the invariants above (debug builds).
  void checkInvariants() const;

 private:
  size_t chunkOf(size_t r) const;  // the chunk holding record r < size()
  void mergeInto(size_t c);        // chunk c + 1 joins chunk c
  void mergeSmallNeighbours(size_t c);

  std::vector<std::unique_ptr<int32_t[]>> chunks_;
  std::vector<uint32_t> counts_;  // entries held, by chunk
  std::vector<uint32_t> firsts_;  // record number of each chunk's first entry
  size_t size_ = 0;
};

}  // namespace mero
