#pragma once
// ReadCache keeps recently read 4 KiB blocks of the data file, so a read by
// key (and an update's or a delete's read of the old image) mostly costs a
// copy instead of a system call. Its memory is bounded: at most kBlocks
// blocks, taken as they are first needed, in sets of kWays; a set full of
// blocks gives up the one used longest ago.
//
// Invariant: a cached block holds exactly the bytes the file held at its
// offsets when they were read, for its first `valid` bytes, and no write of
// this engine to the data file has touched them since. The owner keeps it
// by calling forget() for every write (whether it succeeded or not) and
// every shortening of the file, all of them through CachedDataFile.
//
// A third party that rewrites or shortens the data file under an open
// database is outside this: reads may then answer from the bytes cached
// before, but never from outside a buffer.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mero {

class File;

class ReadCache {
 public:
  static constexpr size_t kBlockBytes = 4096;
  static constexpr size_t kWays = 8;
  static constexpr size_t kSets = 256;
  static constexpr size_t kBlocks = kWays * kSets;  // 8 MiB of blocks at most
  // Longer reads go straight to the file: they would only push out many
  // blocks for one record.
  static constexpr size_t kLongestCachedRead = 16 * 1024;

  ReadCache();
  ~ReadCache();
  ReadCache(const ReadCache&) = delete;
  ReadCache& operator=(const ReadCache&) = delete;

  // As File::readAt: up to n bytes at offset, short only at the end of the
  // file, -1 on an error.
  int64_t readAt(const File& file, int64_t offset, void* buffer, size_t n);
  // Drops every block that holds any of the n bytes at offset.
  void forget(int64_t offset, size_t n);
  // Drops every block that holds any byte at or beyond offset.
  void forgetFrom(int64_t offset);
  void clear();
  // Bytes of block storage now held (at most kBlocks * kBlockBytes).
  size_t heldBytes() const { return heldBlocks_ * kBlockBytes; }

 private:
  struct Way {
    int64_t block = -1;  // block number, -1 when empty
    uint32_t valid = 0;  // bytes of the block that were read
    uint32_t lastUse = 0;
    std::unique_ptr<char[]> bytes;  // allocated at its first use
  };
  Way* find(int64_t block);
  Way& load(const File& file, int64_t block, Way* way, bool& failed);
  Way* set(int64_t block) { return &ways_[(static_cast<uint64_t>(block) % kSets) * kWays]; }

  std::unique_ptr<Way[]> ways_;
  uint32_t clock_ = 0;
  size_t heldBlocks_ = 0;
};

}  // namespace mero
