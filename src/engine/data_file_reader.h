#pragma once
// DataFileReader reads record images from the data file. It keeps a window of
// the file in memory, so records visited in ascending position order (the
// rebuild at open, a scan of find) cost one large read per window rather than
// one small read per record, and a single record costs one read. Scans in
// record order, where updates moved records out of file order, go through
// RecordOrderReader (record_order_reader.h), which keeps this window moving
// forward.

#include <cstdint>
#include <string>

#include "engine/field_cipher.h"
#include "engine/field_values.h"
#include "engine/record_image.h"

namespace mero {

class File;
class ReadCache;

// A scan's window: large enough that a scan reads the data file in a few big
// pieces, small enough not to matter next to the database itself.
constexpr size_t kScanWindowBytes = 1u << 20;

class DataFileReader {
 public:
  DataFileReader(const File& file, int64_t fileSize, size_t windowBytes)
      : file_(file), fileSize_(fileSize), windowBytes_(windowBytes) {}
  // The same, with its window in storage the caller keeps between readers,
  // so that a single read allocates nothing. Nothing read before is reused,
  // except through `cache` (when given), which the window is filled from.
  DataFileReader(const File& file, int64_t fileSize, size_t windowBytes, std::string& windowStorage,
                 ReadCache* cache = nullptr)
      : file_(file), fileSize_(fileSize), windowBytes_(windowBytes), window_(&windowStorage), cache_(cache) {
    window_->clear();
  }
  DataFileReader(const DataFileReader&) = delete;
  DataFileReader& operator=(const DataFileReader&) = delete;

  // Reads and deciphers the record image at position. False when the
  // position does not hold a well-formed image of fieldCount fields inside
  // the file: past its end, a length below 4 + 4 * fieldCount or past the
  // end, or field lengths running past the image.
  bool readRecord(int64_t position, int32_t fieldCount, const FieldCipher& cipher, FieldValues& out,
                  const uint8_t* wanted = nullptr, bool* filled = nullptr);

  // The raw image at position (length prefix included), or an empty view,
  // with `damage` (when given) telling why: its length unreadable, below 4,
  // past the file's end or too short for fieldCount headers, or, for a long
  // image, a field running past it. The fields of a short image are not
  // walked here (see record_image.h).
  std::string_view rawImage(int64_t position, int32_t fieldCount, ImageDamage* damage = nullptr);

 private:
  const char* fetch(int64_t offset, size_t n);
  // Whether fieldCount field headers chain inside the image, read straight
  // from the file without touching the buffers; the fault when they do not.
  ImageDamage headersFit(int64_t position, int32_t length, int32_t fieldCount);
  static bool holds(const std::string& buffer, int64_t start, int64_t offset, size_t n) {
    return offset >= start && offset + static_cast<int64_t>(n) <= start + static_cast<int64_t>(buffer.size());
  }
  const char* fill(int64_t offset, size_t n);

  const File& file_;
  int64_t fileSize_;
  size_t windowBytes_;
  std::string ownWindow_;
  std::string* window_ = &ownWindow_;
  int64_t windowStart_ = 0;
  ReadCache* cache_ = nullptr;
};

}  // namespace mero
