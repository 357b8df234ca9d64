// The structural check shared by mero check and the rewrites.

#include "tool/structure_check.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "engine/file_names.h"
#include "engine/index_file.h"
#include "engine/power_cut_recovery.h"
#include "engine/record_order_reader.h"
#include "foundation/int32_codec.h"
#include "tool/progress_bar.h"

namespace mero::tool {

void ProblemList::add(int64_t position, const std::string& what) {
  ++count_;
  const std::string line = position >= 0 ? "position " + std::to_string(position) + ": " + what : what;
  if (print_) {
    ProgressBar::clearActive();
    std::printf("%s\n", line.c_str());
  } else if (keepAll_ || kept_.size() < 5) {
    kept_.push_back(line);
  }
}

namespace {

std::string recordName(size_t r) { return "record " + std::to_string(r); }

// The index entries as stored, up to the count or to what the file holds.
std::vector<int32_t> readEntries(ToolDatabase& db, ProblemList& problems) {
  // Negative entries are not reported here: each is a record outside the data file.
  StoredIndex stored;
  if (!db.indexFile().isOpen()) return {};
  if (!readIndex(db.indexFile(), stored)) {
    problems.add(-1, "index file: it cannot be read: " + File::lastErrorText());
    return {};
  }
  if (stored.fault() == IndexFault::negativeCount) {
    problems.add(-1, "index file: negative record count " + std::to_string(stored.count));
    return {};
  }
  if (stored.fault() == IndexFault::countPastEntries)
    problems.add(-1, "index file: the count " + std::to_string(stored.count) +
                         " announces more entries than the file's " + std::to_string(stored.bytes) + " bytes hold (" +
                         std::to_string(stored.held) + ")");
  return std::move(stored.entries);
}

// Entries repeated in the slot after them, as a delete that shifts the
// entries down leaves them when it is cut short before it writes the count;
// open drops them and completes the delete. Removed here as open does.
bool dropInterruptedDelete(std::vector<int32_t>& entries) {
  const size_t before = entries.size();
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  return entries.size() != before;
}

// For the sort: a well-formed live image's position in the high 32 bits,
// its record number in the low 32.
uint64_t imageKey(int64_t position, size_t record) { return static_cast<uint64_t>(position) << 32 | record; }

// LSD radix sort of the keys by their 31 position bits, in three passes of
// 11 bits.
void sortByPosition(std::vector<uint64_t>& keys) {
  std::vector<uint64_t> scratch(keys.size());
  for (int shift = 32; shift < 65; shift += 11) {
    size_t counts[2049] = {};
    for (const uint64_t k : keys) ++counts[((k >> shift) & 2047) + 1];
    for (size_t b = 1; b < 2049; ++b) counts[b] += counts[b - 1];
    for (const uint64_t k : keys) scratch[counts[(k >> shift) & 2047]++] = k;
    keys.swap(scratch);
  }
}

// Live images never share bytes. Record order is usually the file's order
// plus one ascending run of moved records (see RecordOrderReader). Following those
// two runs, each image must begin at or after the end of the one before it
// in its run, and the two runs must cover separate ranges of the file; then
// no two images overlap, and nothing had to be stored or sorted. Any other
// order is settled by sorting every image by position.
class OverlapScan {
 public:
  void add(int64_t position, int64_t length) {
    if (unsettled_) return;
    Run* run = nullptr;
    for (Run& candidate : runs_)
      if (candidate.last <= position && (run == nullptr || candidate.last > run->last)) run = &candidate;
    if (run == nullptr || position < run->end) {
      unsettled_ = true;
      return;
    }
    if (run->first < 0) run->first = position;
    run->last = position;
    run->end = position + length;
  }
  bool settled() const {
    const Run& a = runs_[0];
    const Run& b = runs_[1];
    return !unsettled_ && (a.first < 0 || b.first < 0 || a.end <= b.first || b.end <= a.first);
  }

 private:
  struct Run {
    int64_t first = -1;
    int64_t last = -1;
    int64_t end = 0;
  };
  Run runs_[2];
  bool unsettled_ = false;
};

// What is wrong with the image at position, read once: the reader judges
// its length, `inspect` (or checkImage) its fields, which must fill it
// exactly: R = 4 + sum(4 + n_i).
ImageDamage imageDamage(RecordOrderReader& reader, size_t record, int64_t position, int32_t fieldCount,
                        const ImageInspector& inspect, std::string_view& image) {
  ImageDamage damage;
  image = reader.rawImage(record, &damage);
  if (image.empty()) return damage;
  return inspect ? inspect(record, position, image) : checkImage(image, fieldCount);
}

// Sorted by position, each well-formed image must end before the next begins.
void reportOverlaps(ToolDatabase& db, const std::vector<int32_t>& entries, ProblemList& problems) {
  RecordOrderReader reader(db.dataFile(), db.dataSize(), entries, db.schema().fieldCount);
  std::vector<uint64_t> live;
  std::vector<int32_t> lengths(entries.size(), 0);
  live.reserve(entries.size());
  for (size_t r = 0; r < entries.size(); ++r) {
    const int64_t position = entries[r];
    std::string_view image;
    if (position < 0 || position > db.dataSize() - 4 ||
        !imageDamage(reader, r, position, db.schema().fieldCount, {}, image).ok())
      continue;  // reported already
    live.push_back(imageKey(position, r));
    lengths[r] = static_cast<int32_t>(image.size());
  }
  sortByPosition(live);
  for (size_t i = 1; i < live.size(); ++i) {
    const auto a = static_cast<int64_t>(live[i - 1] >> 32), b = static_cast<int64_t>(live[i] >> 32);
    const size_t ra = live[i - 1] & 0xFFFFFFFFu, rb = live[i] & 0xFFFFFFFFu;
    if (a == b)
      problems.add(b, "listed twice, as " + recordName(ra) + " and " + recordName(rb));
    else if (a + lengths[ra] > b)
      problems.add(b, recordName(rb) + " overlaps " + recordName(ra) + " at position " + std::to_string(a));
  }
}

}  // namespace

StructureResult checkStructure(ToolDatabase& db, ProblemList& problems, bool quiet, const ImageInspector& inspect) {
  StructureResult result;
  std::string error;
  // What open would take back, judged as open judges it. Anything beyond a
  // delete cut short (which the rewrites complete as open does) is a state
  // that only open repairs: a note here, and the rewrites refuse it.
  RecoveryReport recovery;
  const bool repairable = !db.indexMissing() &&
                          analyseFiles(db.schemaFile(), db.indexFile(), db.dataFile(), recovery) == OpenFailure::none &&
                          !recovery.empty();
  const bool schemaReadable = db.readSchema(error);
  if (!schemaReadable && !(repairable && recovery.schemaIncomplete)) problems.add(-1, "schema file: " + error);
  const int32_t fieldCount = db.schema().fieldCount;
  if (db.indexMissing() && db.dataSize() > 0)
    problems.add(-1, "index file: " + indexFileName(db.base()) + " is missing beside a data file of " +
                         std::to_string(db.dataSize()) + " bytes");
  ProblemList ignored(false);
  std::vector<int32_t> entries = readEntries(db, repairable ? ignored : problems);
  db.refreshSizes();  // after the index: see ToolDatabase::loadPositions
  const std::vector<int32_t> asStored = repairable ? entries : std::vector<int32_t>{};
  const size_t stored = entries.size();
  result.interruptedDelete = dropInterruptedDelete(entries);
  if (repairable) {
    const bool onlyTheDelete =
        recovery.missingEntries == 0 && !recovery.schemaIncomplete &&
        recovery.droppedFor(DropReason::repeatedPosition) == static_cast<int32_t>(recovery.dropped.size()) &&
        recovery.dropped.size() == stored - entries.size();
    if (!onlyTheDelete) {
      result.powerCut = recovery.summary();
      std::vector<uint8_t> drop(stored, 0);
      for (const DroppedEntry& d : recovery.dropped)
        if (d.recordNumber >= 0 && static_cast<size_t>(d.recordNumber) < stored)
          drop[static_cast<size_t>(d.recordNumber)] = 1;
      entries.clear();
      for (size_t r = 0; r < stored; ++r)
        if (drop[r] == 0) entries.push_back(asStored[r]);
    }
  }
  result.records = entries.size();
  if (schemaReadable && fieldCount == 0 && !entries.empty())
    problems.add(
        -1, "schema file: it defines no fields, but the index lists " + std::to_string(entries.size()) + " records");

  RecordOrderReader reader(db.dataFile(), db.dataSize(), entries, fieldCount);
  OverlapScan overlaps;
  {
    ProgressBar progress("check", entries.size(), quiet);
    for (size_t r = 0; r < entries.size(); ++r) {
      progress.update(r);
      const int64_t position = entries[r];
      if (position < 0 || position > db.dataSize() - 4) {
        problems.add(position, recordName(r) + ": outside the data file (" + std::to_string(db.dataSize()) + " bytes)");
        continue;
      }
      if (!schemaReadable) continue;  // the layout of an image depends on the field count
      std::string_view image;
      const ImageDamage damage = imageDamage(reader, r, position, fieldCount, inspect, image);
      if (!damage.ok()) {
        problems.add(position, recordName(r) + ": " + describe(damage));
        continue;
      }
      overlaps.add(position, static_cast<int64_t>(image.size()));
    }
  }
  if (schemaReadable && !overlaps.settled()) reportOverlaps(db, entries, problems);
  return result;
}

}  // namespace mero::tool
