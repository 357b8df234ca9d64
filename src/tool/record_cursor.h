#pragma once
// Reads record images in record order. That order is the data file's order
// except for records an update moved to the end of the file, which form a
// second ascending run there. Two readers, each following one run forward,
// turn such a walk into two streaming reads rather than a jump back and
// forth for every moved record.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/data_file_reader.h"

namespace mero::tool {

class RecordCursor {
 public:
  RecordCursor(File& file, int64_t fileSize)
      : readers_{DataFileReader(file, fileSize, kScanWindowBytes), DataFileReader(file, fileSize, kScanWindowBytes)} {}

  std::string_view rawImage(int64_t position, int32_t fieldCount, ImageDamage* damage = nullptr) {
    return readerFor(position).rawImage(position, fieldCount, damage);
  }
  bool readRecord(int64_t position, int32_t fieldCount, const FieldCipher& cipher, FieldValues& out) {
    return readerFor(position).readRecord(position, fieldCount, cipher, out);
  }
  // Why a read at position failed, e.g. "field 2 length 99 runs past the end of the image".
  std::string whyDamaged(int64_t position, int32_t fieldCount) {
    return describe(readerFor(position).damageAt(position, fieldCount));
  }

 private:
  // The reader that this position continues forward from most closely; when
  // it continues neither, the one that is further behind starts over.
  DataFileReader& readerFor(int64_t position) {
    int pick = last_[0] > last_[1] ? 1 : 0;
    for (int i = 0; i < 2; ++i)
      if (last_[i] <= position && (last_[pick] > position || last_[i] > last_[pick])) pick = i;
    last_[pick] = position;
    return readers_[pick];
  }

  DataFileReader readers_[2];
  int64_t last_[2] = {-1, -1};
};

}  // namespace mero::tool
