// How much of the data file the live records take.

#include <algorithm>

#include "engine/database.h"

namespace mero {

// The live images are read in position order, so the data file is read
// forward in large windows, once.
bool Database::usage(Usage& out) const {
  out = Usage{};
  if (!open_) return false;
  std::vector<int32_t> positions = records_.positionList();
  std::sort(positions.begin(), positions.end());
  DataFileReader reader(dataFile_, dataEnd_, kScanWindowBytes);
  for (const int32_t position : positions) {
    const std::string_view image = reader.rawImage(position, schema_.fieldCount);
    if (image.empty()) return false;
    out.liveBytes += static_cast<int64_t>(image.size());
  }
  out.records = records_.count();
  out.dataBytes = dataEnd_;
  out.indexBytes = indexFile_.size();
  out.schemaBytes = schemaFile_.size();
  return out.indexBytes >= 0 && out.schemaBytes >= 0;
}

}  // namespace mero
