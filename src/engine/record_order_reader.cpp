#include "engine/record_order_reader.h"

#include <algorithm>
#include <climits>

#include "engine/record_format.h"

namespace mero {

namespace {
// Most records fit in one read of this size; longer ones take a second.
constexpr size_t kJumpReadBytes = 512;
}  // namespace

RecordOrderReader::RecordOrderReader(const File& file, int64_t fileSize, const std::vector<int32_t>& positions,
                                     int32_t fieldCount, size_t aheadBudget)
    : positions_(positions),
      fieldCount_(fieldCount),
      stream_(file, fileSize, kScanWindowBytes),
      jumps_(file, fileSize, kJumpReadBytes) {
  readAhead(file, fileSize, aheadBudget);
}

// A record lies behind when a later record's image starts before it. Those
// are read in position order, one stream, until one does not read (its
// damage is found in record order, where it comes) or the budget is spent.
void RecordOrderReader::readAhead(const File& file, int64_t fileSize, size_t budget) {
  std::vector<uint32_t> behind;  // record numbers
  int32_t lowestAfter = INT32_MAX;
  for (size_t r = positions_.size(); r-- > 0;) {
    if (positions_[r] > lowestAfter) behind.push_back(static_cast<uint32_t>(r));
    lowestAfter = std::min(lowestAfter, positions_[r]);
  }
  if (behind.empty()) return;
  moved_.assign(positions_.size(), 0);
  for (const uint32_t r : behind) moved_[r] = 1;
  std::sort(behind.begin(), behind.end(), [&](uint32_t a, uint32_t b) { return positions_[a] < positions_[b]; });
  DataFileReader reader(file, fileSize, kScanWindowBytes);
  for (const uint32_t r : behind) {
    const std::string_view image = reader.rawImage(positions_[r], fieldCount_);
    if (image.empty()) break;
    if (aheadBytes_.size() + image.size() > budget) break;
    ahead_.push_back(Ahead{r, static_cast<uint32_t>(image.size()), aheadBytes_.size()});
    aheadBytes_.append(image);
  }
  std::sort(ahead_.begin(), ahead_.end(), [](const Ahead& a, const Ahead& b) { return a.record < b.record; });
}

const RecordOrderReader::Ahead* RecordOrderReader::aheadOf(size_t record) {
  while (nextAhead_ < ahead_.size() && ahead_[nextAhead_].record < record) ++nextAhead_;
  if (nextAhead_ < ahead_.size() && ahead_[nextAhead_].record == record) return &ahead_[nextAhead_];
  return nullptr;
}

// The records that lie in file order come in ascending positions, so the
// stream only ever moves forward; a moved record that was not read ahead
// is read on its own.
std::string_view RecordOrderReader::rawImage(size_t record, ImageDamage* damage) {
  if (const Ahead* ahead = aheadOf(record)) {
    if (damage != nullptr) *damage = ImageDamage{};
    return {aheadBytes_.data() + ahead->start, ahead->length};
  }
  DataFileReader& reader = !moved_.empty() && moved_[record] != 0 ? jumps_ : stream_;
  return reader.rawImage(positions_[record], fieldCount_, damage);
}

bool RecordOrderReader::readRecord(size_t record, const FieldCipher& cipher, FieldValues& out, const uint8_t* wanted,
                                   bool* filled) {
  const std::string_view image = rawImage(record);
  if (image.empty()) return false;
  return decodeRecordBody(cipher, fieldCount_, image.data() + 4, image.size() - 4, out, wanted, filled);
}

ImageDamage RecordOrderReader::damageAt(size_t record) {
  ImageDamage damage;
  const std::string_view image = rawImage(record, &damage);
  return image.empty() ? damage : checkImage(image, fieldCount_);
}

}  // namespace mero
