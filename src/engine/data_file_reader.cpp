#include "engine/data_file_reader.h"

#include "engine/record_format.h"
#include "foundation/int32_codec.h"
#include "platform/file.h"

namespace mero {

const char* DataFileReader::fetch(int64_t offset, size_t n) {
  if (offset >= windowStart_ && offset + static_cast<int64_t>(n) <= windowStart_ + static_cast<int64_t>(window_.size()))
    return window_.data() + (offset - windowStart_);
  size_t want = n > windowBytes_ ? n : windowBytes_;
  if (static_cast<int64_t>(want) > fileSize_ - offset) want = static_cast<size_t>(fileSize_ - offset);
  if (want < n) return nullptr;
  window_.resize(want);
  const int64_t got = file_.readAt(offset, window_.data(), want);
  if (got < static_cast<int64_t>(n)) {
    window_.clear();
    return nullptr;
  }
  window_.resize(static_cast<size_t>(got));
  windowStart_ = offset;
  return window_.data();
}

std::string_view DataFileReader::rawImage(int64_t position, int32_t fieldCount) {
  if (position < 0 || position > fileSize_ - 4) return {};
  const char* prefix = fetch(position, 4);
  if (prefix == nullptr) return {};
  const int32_t length = decodeInt32(prefix);
  if (length < 4 + 4 * static_cast<int64_t>(fieldCount) || length > fileSize_ - position) return {};
  const char* image = fetch(position, static_cast<size_t>(length));
  if (image == nullptr) return {};
  return {image, static_cast<size_t>(length)};
}

bool DataFileReader::readRecord(int64_t position, int32_t fieldCount, const FieldCipher& cipher,
                                FieldValues& out, const uint8_t* wanted) {
  const std::string_view image = rawImage(position, fieldCount);
  if (image.empty()) return false;
  return decodeRecordBody(cipher, fieldCount, image.data() + 4, image.size() - 4, out, wanted);
}

}  // namespace mero
