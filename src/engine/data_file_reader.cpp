#include "engine/data_file_reader.h"

#include <algorithm>

#include "engine/read_cache.h"
#include "engine/record_format.h"
#include "foundation/int32_codec.h"
#include "platform/file.h"

namespace mero {

namespace {
// Images longer than this have their field headers checked before the body
// is read: a position that holds no record (its first bytes taken as a
// length) must not make a lookup read and allocate hundreds of megabytes.
constexpr int32_t kCheckHeadersAbove = 64 * 1024;
}  // namespace

// The headers are read one at a time, straight from the file.
ImageDamage DataFileReader::headersFit(int64_t position, int32_t length, int32_t fieldCount) {
  const auto read = [&](int64_t at, char* header) { return file_.readAt(at, header, 4) == 4; };
  return walkHeaders(position, length, position + length, fieldCount, read).damage;
}

// Refills the window from offset: windowBytes_, or n when more, or what is
// left of the file when less, so long as that holds n.
const char* DataFileReader::fill(int64_t offset, size_t n) {
  size_t want = std::max(n, windowBytes_);
  if (static_cast<int64_t>(want) > fileSize_ - offset) want = static_cast<size_t>(fileSize_ - offset);
  if (want < n) return nullptr;
  window_->resize(want);
  const int64_t got = cache_ != nullptr ? cache_->readAt(file_, offset, window_->data(), want)
                                        : file_.readAt(offset, window_->data(), want);
  if (got < static_cast<int64_t>(n)) {
    window_->clear();
    return nullptr;
  }
  window_->resize(static_cast<size_t>(got));
  windowStart_ = offset;
  return window_->data();
}

const char* DataFileReader::fetch(int64_t offset, size_t n) {
  if (holds(*window_, windowStart_, offset, n)) return window_->data() + (offset - windowStart_);
  return fill(offset, n);
}

std::string_view DataFileReader::rawImage(int64_t position, int32_t fieldCount, ImageDamage* damage) {
  ImageDamage ignored;
  ImageDamage& why = damage != nullptr ? *damage : ignored;
  why = ImageDamage{ImageFault::lengthUnreadable};
  if (position < 0 || position > fileSize_ - 4) return {};
  const char* prefix = fetch(position, 4);
  if (prefix == nullptr) return {};
  const int32_t length = decodeInt32(prefix);
  why = checkImageLength(length, fieldCount);
  if (length >= 4 && length > fileSize_ - position) why.fault = ImageFault::lengthPastFile;
  if (!why.ok()) return {};
  if (length > kCheckHeadersAbove && !holds(*window_, windowStart_, position, static_cast<size_t>(length))) {
    why = headersFit(position, length, fieldCount);
    if (!why.ok()) return {};
  }
  const char* image = fetch(position, static_cast<size_t>(length));
  if (image == nullptr) {
    why = ImageDamage{ImageFault::lengthPastFile, -1, length};  // the file shrank under the reader
    return {};
  }
  return {image, static_cast<size_t>(length)};
}

bool DataFileReader::readRecord(int64_t position, int32_t fieldCount, const FieldCipher& cipher, FieldValues& out,
                                const uint8_t* wanted, bool* filled) {
  const std::string_view image = rawImage(position, fieldCount);
  if (image.empty()) return false;
  return decodeRecordBody(cipher, fieldCount, image.data() + 4, image.size() - 4, out, wanted, filled);
}

}  // namespace mero
