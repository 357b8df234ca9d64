// Batch append: several records as one change. Every record is checked
// before anything is written; then all images go to the end of the data file
// in one write, all index entries past the count in one write, and the new
// count last (crash_order.h, rule 30). The count is the commit point: a
// process killed before it leaves none of the batch live, after it all.

#include <algorithm>
#include <functional>
#include <string_view>

#include "engine/database.h"
#include "engine/index_file.h"
#include "engine/record_format.h"

namespace mero {

WriteStatus Database::appendBatch(const std::vector<FieldValues>& batch, std::vector<int32_t>& positions,
                                  size_t* failedAt) {
  lock_.assertHeld();
  const ScratchRelease release{*this};
  positions.clear();
  const auto refuse = [&](size_t record, WriteStatus status) {
    if (failedAt != nullptr) *failedAt = record;
    return status;
  };
  if (!open_ || recovery_.schemaIncomplete) return refuse(0, WriteStatus::notStored);  // as write()
  if (batch.empty()) return WriteStatus::appended;

  const bool keyed = keyIndexEnabled_ && schema_.fieldCount > 0;
  std::vector<std::pair<size_t, size_t>> batchKeys;  // hash of the key, record
  std::vector<uint64_t> indexedBytes(static_cast<size_t>(schema_.fieldCount), 0);
  uint64_t total = 0;
  for (size_t i = 0; i < batch.size(); ++i) {
    const FieldValues& values = batch[i];
    if (values.size() != schema_.fieldCount) return refuse(i, WriteStatus::wrongFieldCount);
    if (keyed) {
      if (keyIndex_.probe(values[0]).found) return refuse(i, WriteStatus::duplicateKey);
      batchKeys.emplace_back(std::hash<std::string_view>{}(values[0]), i);
    }
    total += recordImageSize(values);
    for (int32_t f = 0; f < schema_.fieldCount; ++f)
      if (isIndexed(f)) indexedBytes[static_cast<size_t>(f)] += values[f].size() + 1;
  }
  // A key given twice in the batch: sorted by hash, equal keys are neighbours
  // among the records of one hash; the later record is the one refused.
  std::sort(batchKeys.begin(), batchKeys.end());
  for (size_t k = 1; k < batchKeys.size(); ++k)
    for (size_t j = k; j-- > 0 && batchKeys[j].first == batchKeys[k].first;)
      if (batch[batchKeys[j].second][0] == batch[batchKeys[k].second][0])
        return refuse(batchKeys[k].second, WriteStatus::duplicateKey);
  if (static_cast<uint64_t>(dataEnd_) + total > static_cast<uint64_t>(kMaxDataFileSize))
    return refuse(batch.size() - 1, WriteStatus::notStored);
  for (int32_t f = 0; f < schema_.fieldCount; ++f)
    if (isIndexed(f) && !searchTexts_[static_cast<size_t>(f)].canHold(indexedBytes[static_cast<size_t>(f)]))
      return refuse(batch.size() - 1, WriteStatus::notStored);

  std::string images;
  images.reserve(static_cast<size_t>(total));
  positions.reserve(batch.size());
  for (const FieldValues& values : batch) {
    positions.push_back(static_cast<int32_t>(dataEnd_ + static_cast<int64_t>(images.size())));
    encodeRecord(cipher_, values, image_);
    images.append(image_);
  }
  if (!dataFile_.writeAt(dataEnd_, images.data(), images.size())) {
    resyncDataEnd();
    positions.clear();
    return refuse(0, WriteStatus::notStored);
  }
  dataEnd_ += static_cast<int64_t>(total);
  // Crash order rule 10, as for a single append.
  if (!madeDurable(dataFile_) ||
      !IndexFile(indexFile_, sync_ == SyncMode::full).appendEntries(records_.count(), positions)) {
    positions.clear();
    return refuse(0, WriteStatus::notStored);
  }

  // A batch as large as half of what is there grows the tables once, to
  // their final size; smaller ones leave growth to its doubling, so many
  // small batches never copy the tables for each one.
  if (batch.size() >= records_.slotCount() / 2) {
    const size_t slots = records_.slotCount() + batch.size();
    records_.reserve(slots);
    if (keyed) keyIndex_.reserve(static_cast<size_t>(records_.count()) + batch.size());
    for (int32_t f = 0; f < schema_.fieldCount; ++f) {
      if (!isIndexed(f)) continue;
      searchTexts_[static_cast<size_t>(f)].reserve(slots);
      valueHashes_[static_cast<size_t>(f)].reserve(slots);
    }
  }
  for (size_t i = 0; i < batch.size(); ++i) addToMemory(positions[i], batch[i]);
  return WriteStatus::appended;
}

}  // namespace mero
