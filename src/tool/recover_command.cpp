// mero recover BASE --into NEW: salvages every well-formed record of a
// damaged database into a new one, and never writes to BASE.
//
// An image counts when its length prefix equals the sum of its fields'
// (R = 4 + sum(4 + n_i)) and every value deciphers to valid text under the
// key. Where the index is sound, it names the records and their order. Where
// it is not (missing, cut short, entries leading to garbage or listed
// twice), the data file is also scanned for such images: those the index
// does not name follow in data-file order. A scan also finds the dead images
// of deleted and updated records; an image that repeats a kept one, or
// whose first field is that of a record the index names, is an older
// version and dropped; of two found images with the same first field, the
// later (updates move records to the end) is kept, and the choice reported.

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <tuple>

#include "engine/file_names.h"
#include "engine/index_file.h"
#include "engine/record_format.h"
#include "engine/record_image.h"
#include "foundation/int32_codec.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/crash_points.h"
#include "tool/exit_status.h"
#include "tool/key_source.h"
#include "tool/new_database.h"
#include "tool/progress_bar.h"
#include "tool/tool_database.h"

namespace mero::tool {

namespace {

class Salvage {
 public:
  Salvage(const std::string& data, int32_t fieldCount, const FieldCipher& cipher)
      : data_(data), fieldCount_(fieldCount), cipher_(cipher) {}

  // The length of the valid image at position, or 0 with the reason.
  int64_t imageAt(int64_t position, std::string* why = nullptr) {
    const auto size = static_cast<int64_t>(data_.size());
    auto no = [&](const std::string& reason) {
      if (why != nullptr) *why = reason;
      return int64_t{0};
    };
    if (position < 0 || position > size - 4) return no("outside the data file");
    const int64_t length = decodeInt32(data_.data() + position);
    ImageDamage fit = checkImageLength(length, fieldCount_);
    if (fit.ok() && length > size - position) fit.fault = ImageFault::lengthPastFile;
    if (!fit.ok()) return no(describe(fit));
    // One walk checks the fields and deciphers them.
    values_.clear();
    const std::string_view image(data_.data() + position, static_cast<size_t>(length));
    const ImageDamage damage = walkImage(image, fieldCount_, [&](int32_t, std::string_view stored) {
      cipher_.decode(stored.data(), stored.size(), values_.addUninitialised(stored.size()));
    });
    if (!damage.ok()) return no(describe(damage));
    for (int32_t f = 0; f < fieldCount_; ++f)
      if (!isValidModifiedUtf8(values_[f]))
        return no("field " + std::to_string(f) + " is not valid text under the key");
    return length;
  }
  // The first field of the image last accepted by imageAt.
  std::string firstField() const { return fieldCount_ > 0 ? std::string(values_[0]) : std::string(); }

 private:
  const std::string& data_;
  int32_t fieldCount_;
  const FieldCipher& cipher_;
  FieldValues values_;
};

struct Kept {
  int64_t position;
  int64_t length;
  bool named;  // by the index
  std::string firstField;
};

void report(const std::string& what, int64_t position, const std::string& why) {
  ProgressBar::clearActive();
  std::fprintf(stderr, "  %s position %" PRId64 ": %s\n", what.c_str(), position, why.c_str());
}

bool readAll(File& file, int64_t size, std::string& bytes) {
  bytes.resize(static_cast<size_t>(size));
  return size == 0 || file.readAt(0, bytes.data(), bytes.size()) == size;
}

}  // namespace

int runRecover(const CommandLine& line) {
  if (!line.has("--into")) return fail(kUsage, "recover writes a new database: give --into NEWBASE");
  std::string key, error;
  if (const int status = loadKey(line, "--key-file", true, key, error); status != kSuccess) return fail(status, error);
  const std::string& base = line.base();
  ToolDatabase db;
  if (const int status = db.open(base, ToolDatabase::Access::untouched, error); status != kSuccess)
    return fail(status, error);
  if (!db.readSchema(error)) return fail(kUnreadable, error + ": the field count is needed to find records");
  const int32_t fieldCount = db.schema().fieldCount;
  if (fieldCount == 0 && db.dataSize() > 0)
    return fail(kUnreadable, schemaFileName(base) +
                                 " defines no fields, but the data file holds bytes: the schema file is damaged, "
                                 "and the field count is needed to find records");

  std::string data, index;
  if (!readAll(db.dataFile(), db.dataSize(), data) || !readAll(db.indexFile(), db.indexSize(), index))
    return fail(kUnreadable, "cannot read " + base + "'s files: " + File::lastErrorText());
  const FieldCipher cipher(key);
  Salvage salvage(data, fieldCount, cipher);
  std::fprintf(stderr, "mero: recovering %s into %s\n", base.c_str(), line.value("--into").c_str());

  // The index, as far as it goes.
  std::vector<Kept> kept;
  std::map<int64_t, size_t> byPosition;  // kept images by their position
  bool sound = !db.indexMissing() || data.empty();
  uint64_t dropped = 0;
  if (db.indexMissing() && !data.empty())
    std::fprintf(stderr, "  %s is missing: scanning the data file\n", indexFileName(base).c_str());
  if (index.size() >= 4) {
    const StoredIndex stored = decodeIndex(index);
    const IndexFault fault = stored.fault();
    if (fault == IndexFault::negativeCount || fault == IndexFault::countPastEntries) {
      sound = false;
      std::fprintf(stderr, "  the index's count %d is not the %" PRId64 " entries it holds: using those\n",
                   stored.count, stored.held);
    }
    for (size_t r = 0; r < stored.entries.size(); ++r) {
      const int64_t position = stored.entries[r];
      if (!kept.empty() && kept.back().position == position) continue;  // a delete cut short
      std::string why;
      const int64_t length = salvage.imageAt(position, &why);
      if (length == 0) {
        sound = false;
        ++dropped;
        report("dropped the record at", position, "record " + std::to_string(r) + ": " + why);
        continue;
      }
      if (byPosition.count(position) != 0) {
        sound = false;
        ++dropped;
        report("dropped the record at", position, "listed twice in the index (record " + std::to_string(r) + ")");
        continue;
      }
      byPosition[position] = kept.size();
      kept.push_back({position, length, true, salvage.firstField()});
    }
  }
  // Named images must not share bytes. Where one runs into the next, its own
  // length prefix is the likelier fault (the next one's start comes from the
  // index): the earlier one goes.
  {
    size_t last = kept.size();
    for (const auto& [position, k] : byPosition) {
      if (last < kept.size() && kept[last].position + kept[last].length > position) {
        sound = false;
        ++dropped;
        report("dropped the record at", kept[last].position,
               "its length runs into the record at position " + std::to_string(position));
        kept[last].length = 0;
      }
      last = k;
    }
    std::vector<Kept> ordered;
    for (const Kept& k : kept)
      if (k.length > 0) ordered.push_back(k);
    kept.swap(ordered);
  }

  uint64_t found = 0;
  if (!sound) {
    std::map<std::string, int64_t> named;  // first field -> position
    for (const Kept& k : kept) named.emplace(k.firstField, k.position);
    std::map<std::string, size_t> foundByFirst;
    std::vector<Kept> extra;
    std::map<int64_t, int64_t> spans;  // the named images kept: never searched inside
    for (const Kept& k : kept) spans[k.position] = k.position + k.length;
    auto nextSpan = spans.begin();
    ProgressBar progress("recover", data.size(), line.flag("--quiet"));
    for (int64_t at = 0; at + 4 <= static_cast<int64_t>(data.size());) {
      progress.update(static_cast<uint64_t>(at));
      while (nextSpan != spans.end() && nextSpan->second <= at) ++nextSpan;
      if (nextSpan != spans.end() && nextSpan->first <= at) {
        at = nextSpan->second;
        continue;
      }
      int64_t length = salvage.imageAt(at);
      if (length > 0 && nextSpan != spans.end() && at + length > nextSpan->first) length = 0;  // runs into a named one
      if (length == 0) {
        ++at;
        continue;
      }
      const std::string first = salvage.firstField();
      if (const auto it = named.find(first); it != named.end()) {
        report("dropped the image at", at,
               "an older image of the record the index names at position " + std::to_string(it->second));
        ++dropped;
      } else if (const auto seen = foundByFirst.find(first); seen != foundByFirst.end()) {
        Kept& earlier = extra[seen->second];
        report("ambiguous: dropped the image at", earlier.position,
               "the image at position " + std::to_string(at) +
                   " has the same first field and lies later (updates move records to the end): kept that one");
        ++dropped;
        earlier = {at, length, false, first};
      } else {
        foundByFirst.emplace(first, extra.size());
        extra.push_back({at, length, false, first});
      }
      at += length;
    }
    std::sort(extra.begin(), extra.end(), [](const Kept& a, const Kept& b) { return a.position < b.position; });
    found = extra.size();
    for (const Kept& k : extra) {
      kept.push_back(k);
      report("found by the scan:", k.position, "a record the index does not name (it may be one that was deleted)");
    }
  }

  // The new database: the kept images back to back, byte for byte.
  NewDatabase target(line.value("--into"));
  if (const int status = target.claim(error); status != kSuccess) return fail(status, error);
  File dataDraft, indexDraft;
  std::string out;
  std::vector<int32_t> positions;
  for (const Kept& k : kept) {
    positions.push_back(static_cast<int32_t>(out.size()));
    out.append(data, static_cast<size_t>(k.position), static_cast<size_t>(k.length));
  }
  std::string entries = encodeIndex(positions);
  std::string schemaBytes(static_cast<size_t>(std::max<int64_t>(db.schemaFile().size(), 0)), '\0');
  if (db.schemaFile().readAt(0, schemaBytes.data(), schemaBytes.size()) != static_cast<int64_t>(schemaBytes.size()))
    return fail(kUnreadable, "cannot read " + schemaFileName(base) + ": " + File::lastErrorText());
  bool created = false;
  for (auto [file, extension, bytes] :
       {std::tuple{&dataDraft, kDataExtension, &out}, std::tuple{&indexDraft, kIndexExtension, &entries}}) {
    const std::string draft = target.draftPath(extension);
    if (!File::remove(draft) || !File::createIfMissing(draft, &created) || !created || !file->openReadWrite(draft) ||
        !file->writeAt(0, bytes->data(), bytes->size()) || !file->sync())
      return fail(kWriteFailed, "writing the files of " + line.value("--into") + " failed: " + File::lastErrorText());
    file->close();
    crashPoint();
  }
  if (const int status = target.commit(schemaBytes, error); status != kSuccess) return fail(status, error);
  std::fprintf(stderr,
               "mero: recovered %zu records into %s (%zu named by the index, %" PRIu64
               " found by scanning the data file); dropped %" PRIu64 "; %s was not changed\n",
               kept.size(), line.value("--into").c_str(), kept.size() - found, found, dropped, base.c_str());
  return kSuccess;
}

}  // namespace mero::tool
