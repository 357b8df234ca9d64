#pragma once
// The index file (<base>.idx): the live records and their order.
//   count n (int32) at offset 0
//   position of record r (int32) at offset 4 + 4r, r = 0 .. n-1
//   anything after that is left over from deletes and never read
// The file is never shortened. A file of fewer than 4 bytes holds no records.
//
// Writes follow crash order rules 1 and 30 (appends), 2 (delete), 3 and 11
// (a repointed entry), 5 (load's repair), 6 (failures), 10 and 13 (FULL).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/position_chunks.h"

namespace mero {

class File;

// Where things stand in the file.
constexpr int64_t kCountOffset = 0;
constexpr int64_t entryOffset(int64_t r) { return 4 + 4 * r; }

// Entries (or a count) in their stored form: 4 bytes each, little-endian.
std::string encodeEntries(const int32_t* positions, size_t n);
// The entries of consecutive runs, in their stored form.
std::string encodeEntries(const std::vector<PositionChunks::Run>& runs);
// A whole index file listing positions: the count, then the entries.
std::string encodeIndex(const std::vector<int32_t>& positions);

// Each way an index file's bytes can disagree with the format.
enum class IndexFault {
  none,
  negativeCount,     // the count is below zero
  countPastEntries,  // the count announces more entries than the file holds
  negativeEntry,     // an entry the count announces is below zero
};
const char* describe(IndexFault fault);

// An index file as stored, read without judging it: every reader of the
// file (open, the tool's check, rewrites and recover) starts from this and
// decides for itself what a fault means to it (a power cut leaves a count
// ahead of its entries, which open takes back and check reports).
struct StoredIndex {
  int64_t bytes = 0;  // the file's size when it was read
  int32_t count = 0;  // as stored; 0 for a file of fewer than 4 bytes
  int64_t held = 0;   // the whole entries the bytes after the count hold
  // The entries the count announces, as far as the file holds them; for a
  // negative count, every entry the file holds.
  std::vector<int32_t> entries;
  int64_t firstNegativeEntry = -1;  // the record number of the first, or -1

  // The first fault, in the order above.
  IndexFault fault() const;
};

// Decodes an index file's bytes.
StoredIndex decodeIndex(std::string_view bytes);
// Reads and decodes the index file. False when it cannot be read.
bool readIndex(const File& file, StoredIndex& out);

// Whether the index file at path lists any live record. A missing or empty
// file lists none; one that exists but cannot be read counts as listing some,
// so that a caller guarding against records errs on the safe side.
bool indexListsRecords(const std::string& path);

class IndexFile {
 public:
  // With syncEachStep (sync mode FULL), every step below reaches the disk
  // before the next is written (crash order rules 10 and 13).
  explicit IndexFile(File& file, bool syncEachStep = false) : file_(file), syncEachStep_(syncEachStep) {}

  enum class LoadResult { ok, tornDelete, damaged };
  // Reads the live positions. `damaged`: the count is negative or announces
  // more entries than the file holds, or an entry is negative. `tornDelete`:
  // repeated entries were dropped from `positions`, and firstRepeat is the
  // record number from which the file's entries differ from them.
  LoadResult load(std::vector<int32_t>& positions, int32_t& firstRepeat);
  // Writes positions[from..] and the count: finishes a torn delete.
  bool completeTornDelete(const std::vector<int32_t>& positions, int32_t from);

  // Appends the entry of record n-1 and then the count n; on a failed
  // count write the old count is put back.
  bool appendEntry(int32_t newCount, int32_t position);
  // Appends the entries of records oldCount.. and then the new count; on a
  // failed count write the old count is put back.
  bool appendEntries(int32_t oldCount, const std::vector<int32_t>& positions);
  // Entry r := position; on a failed write, previous is put back.
  bool rewriteEntry(int32_t r, int32_t position, int32_t previous);
  // Removes entry r of count from the file, given the entries of records
  // r..count-1 before the delete as runs (the ones after r are shifted down
  // in one gathered write). On a failed write the previous entries are put
  // back where possible.
  bool removeEntry(int32_t r, int32_t count, const std::vector<PositionChunks::Run>& entriesFromR);

 private:
  bool writeCount(int32_t count);
  bool step(bool written);  // written, and in FULL synced

  File& file_;
  bool syncEachStep_;
};

}  // namespace mero
