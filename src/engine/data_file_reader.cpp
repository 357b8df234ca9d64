#include "engine/data_file_reader.h"

#include "engine/record_format.h"
#include "foundation/int32_codec.h"
#include "platform/file.h"

namespace mero {

namespace {
constexpr size_t kSideReadBytes = 512;  // most records fit; longer ones are read whole
constexpr int64_t kResumeDistance = 64 * 1024;
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

const char* DataFileReader::fill(std::string& buffer, int64_t& start, int64_t offset, size_t n, size_t want) {
  if (want < n) want = n;
  if (static_cast<int64_t>(want) > fileSize_ - offset) want = static_cast<size_t>(fileSize_ - offset);
  if (want < n) return nullptr;
  buffer.resize(want);
  const int64_t got = file_.readAt(offset, buffer.data(), want);
  if (got < static_cast<int64_t>(n)) {
    buffer.clear();
    return nullptr;
  }
  buffer.resize(static_cast<size_t>(got));
  start = offset;
  return buffer.data();
}

// A read that continues forward from the window, or right after the last side
// read (the scan found its way back to ascending order after a jump), streams
// the next window. Anything else is a jump, read on its own.
const char* DataFileReader::fetch(int64_t offset, size_t n) {
  if (holds(*window_, windowStart_, offset, n)) return window_->data() + (offset - windowStart_);
  if (holds(side_, sideStart_, offset, n)) return side_.data() + (offset - sideStart_);
  const int64_t windowEnd = windowStart_ + static_cast<int64_t>(window_->size());
  const int64_t sideEnd = sideStart_ + static_cast<int64_t>(side_.size());
  const bool streaming = window_->empty() ||
                         (offset >= windowStart_ && offset < windowEnd + static_cast<int64_t>(windowBytes_)) ||
                         (!side_.empty() && offset >= sideStart_ && offset < sideEnd + kResumeDistance);
  if (streaming) return fill(*window_, windowStart_, offset, n, windowBytes_);
  return fill(side_, sideStart_, offset, n, kSideReadBytes);
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

ImageDamage DataFileReader::damageAt(int64_t position, int32_t fieldCount) {
  ImageDamage damage;
  const std::string_view image = rawImage(position, fieldCount, &damage);
  return image.empty() ? damage : checkImage(image, fieldCount);
}

bool DataFileReader::readRecord(int64_t position, int32_t fieldCount, const FieldCipher& cipher, FieldValues& out,
                                const uint8_t* wanted, bool* filled) {
  const std::string_view image = rawImage(position, fieldCount);
  if (image.empty()) return false;
  return decodeRecordBody(cipher, fieldCount, image.data() + 4, image.size() - 4, out, wanted, filled);
}

}  // namespace mero
