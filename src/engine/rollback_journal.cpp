#include "engine/rollback_journal.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/file_names.h"  // the data and index files' extensions, in target order
#include "platform/file.h"

namespace mero {

namespace {
constexpr char kMagic[8] = {'M', 'E', 'R', 'O', 'J', 'R', 'N', 'L'};
constexpr size_t kHeaderBytes = 16;        // magic, target, region count
constexpr size_t kRegionHeaderBytes = 16;  // offset, length
constexpr size_t kChecksumBytes = 8;

void put64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
uint64_t get64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
uint32_t get32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

// Not a defence against anyone: it only tells a journal written whole from
// one a crash cut short or that holds stale bytes, eight bytes at a time.
uint64_t checksumOf(const char* p, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  for (; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001B3ull;
  return h ^ (h >> 32);
}

struct Region {
  int64_t offset;
  std::string_view bytes;
};

// The regions of a complete journal, or false.
bool parse(const std::string& journal, uint32_t& target, std::vector<Region>& regions) {
  if (journal.size() < kHeaderBytes + kChecksumBytes || std::memcmp(journal.data(), kMagic, 8) != 0) return false;
  const size_t body = journal.size() - kChecksumBytes;
  if (get64(journal.data() + body) != checksumOf(journal.data(), body)) return false;
  target = get32(journal.data() + 8);
  const uint32_t count = get32(journal.data() + 12);
  size_t at = kHeaderBytes;
  for (uint32_t i = 0; i < count; ++i) {
    if (body - at < kRegionHeaderBytes) return false;
    const auto offset = static_cast<int64_t>(get64(journal.data() + at));
    const uint64_t length = get64(journal.data() + at + 8);
    at += kRegionHeaderBytes;
    if (offset < 0 || length > body - at) return false;
    regions.push_back({offset, std::string_view(journal.data() + at, static_cast<size_t>(length))});
    at += static_cast<size_t>(length);
  }
  return at == body && target < 2;
}

std::string encode(JournalTarget target, std::initializer_list<JournalRegion> regions) {
  std::string journal(kMagic, 8);
  put32(journal, static_cast<uint32_t>(target));
  put32(journal, static_cast<uint32_t>(regions.size()));
  for (const JournalRegion& region : regions) {
    put64(journal, static_cast<uint64_t>(region.offset));
    put64(journal, region.bytes.size());
    journal.append(region.bytes);
  }
  put64(journal, checksumOf(journal.data(), journal.size()));
  return journal;
}
}  // namespace

bool RollbackJournal::write(JournalTarget target, std::initializer_list<JournalRegion> regions, bool durable) {
  const std::string journal = encode(target, regions);
  const auto length = static_cast<int64_t>(journal.size());
  if (file_.isOpen() && holdsJournal_ && !clear(durable)) return false;
  if (!file_.isOpen()) {
    // Open handled any journal found under the lock, so whatever is at the
    // path now is no one's: it goes, and a fresh, empty file takes its place.
    made_ = true;
    length_ = 0;
    if (!File::remove(path_) || !File::createIfMissing(path_) || !file_.openReadWrite(path_) ||
        (durable && !File::syncDirectoryOf(path_))) {
      file_.close();
      File::remove(path_);
      return false;
    }
  }
  // Zeros past the journal would keep it from parsing to the file's end.
  if (length_ > length && !file_.truncate(length)) {
    discard(durable);
    return false;
  }
  // The file's length once the write lands: cut to it above, or lengthened
  // to it by the write; one that fails part-way ends within it, so clear()
  // zeroes all it left.
  holdsJournal_ = true;
  length_ = length;
  if (file_.writeAt(0, journal.data(), journal.size()) && (!durable || file_.sync())) return true;
  clear(durable);
  return false;
}

bool RollbackJournal::clear(bool durable) {
  if (!file_.isOpen()) return true;
  // From the first byte on, so that a write cut short by a kill has zeroed
  // the magic before anything else.
  static const char kZeros[64 * 1024] = {};
  bool zeroed = true;
  for (int64_t at = 0; zeroed && at < length_; at += static_cast<int64_t>(sizeof kZeros))
    zeroed = file_.writeAt(at, kZeros, static_cast<size_t>(std::min<int64_t>(length_ - at, sizeof kZeros)));
  if (zeroed && (!durable || file_.sync())) {
    holdsJournal_ = false;
    return true;
  }
  // Failed like any other write of the call, which then takes its change
  // back; the file goes even so.
  discard(durable);
  return false;
}

bool RollbackJournal::discard(bool durable) {
  // A journal that outlived its write would roll it back at the next open:
  // a file that cannot be zeroed or cut is removed instead.
  return remove() && (!durable || File::syncDirectoryOf(path_));
}

bool RollbackJournal::remove() {
  if (!file_.isOpen()) return true;
  file_.close();
  holdsJournal_ = false;
  length_ = 0;
  return File::remove(path_);
}

bool recoverRollbackJournal(const std::string& baseName) {
  const std::string path = rollbackJournalPath(baseName);
  if (!File::exists(path)) return true;
  File journalFile;
  if (!journalFile.openReadWrite(path)) return false;
  const int64_t size = journalFile.size();
  if (size < 0) return false;
  std::string journal(static_cast<size_t>(size), '\0');
  if (journalFile.readAt(0, journal.data(), journal.size()) != size) return false;
  journalFile.close();

  uint32_t target = 0;
  std::vector<Region> regions;
  if (parse(journal, target, regions)) {
    // The write it guards may have reached the file in any part: the old
    // bytes go back whole, and reach the disk before the journal goes. A
    // region past the end of the file is not this file's: the files are
    // never shortened, so such a journal is not ours to apply.
    const std::string targetPath = baseName + kRewrittenExtensions[target];
    File file;
    if (File::exists(targetPath) && !file.openReadWrite(targetPath)) return false;
    const int64_t end = file.isOpen() ? file.size() : -1;
    bool fits = end >= 0;
    for (const Region& region : regions)
      fits = fits && region.offset + static_cast<int64_t>(region.bytes.size()) <= end;
    if (fits) {
      for (const Region& region : regions)
        if (!file.writeAt(region.offset, region.bytes.data(), region.bytes.size())) return false;
      if (!file.sync()) return false;
    }
  }
  return File::remove(path) && File::syncDirectoryOf(path);
}

}  // namespace mero
