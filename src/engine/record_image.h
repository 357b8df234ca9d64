#pragma once
// Walking the fields of a record image (its layout is in record_format.h),
// and the ways an image can be malformed. Every reader of images goes
// through FieldWalker, so open, find, the rewrites and the tool's check
// agree on what a whole image is and say the same about one that is not.

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/int32_codec.h"

namespace mero {

// Each way an image can be malformed, in the order a reader meets them.
enum class ImageFault : uint8_t {
  none,
  lengthUnreadable,      // the length prefix is not inside the data file
  lengthBelowPrefix,     // the length is below 4, the prefix's own size
  lengthPastFile,        // the image runs past the end of the data file
  tooShortForFields,     // the length cannot hold a header per field
  fieldHeaderPastImage,  // a field's length header starts past the image
  fieldPastImage,        // a field's length is negative or runs past the image
  fieldsShortOfImage,    // the fields end before the image does
};

// A short message for each fault, from one table.
const char* describe(ImageFault fault);

// A fault and where it lies.
struct ImageDamage {
  ImageFault fault = ImageFault::none;
  int32_t field = -1;      // the field at fault, for the field faults
  int64_t length = 0;      // the image's length; a field's for fieldPastImage
  int64_t fieldsEnd = 0;   // for fieldsShortOfImage: 4 + sum(4 + n_i)
  int32_t fieldCount = 0;  // for tooShortForFields
  bool ok() const { return fault == ImageFault::none; }
};

// The fault with its numbers, e.g. "field 2 length 99 runs past the end of
// the image".
std::string describe(const ImageDamage& damage);

// The two checks at each field header, shared by every walk: `left` is what
// remains of the image from the header on, n the length the header holds.
inline bool headerFits(int64_t left) { return left >= 4; }
inline bool fieldFits(int32_t n, int64_t left) { return n >= 0 && n <= left - 4; }

// Walks the fields of an image's body (the bytes after the length prefix),
// checking each header as it goes. Invariant: offset() <= the body's length.
class FieldWalker {
 public:
  FieldWalker(const char* body, size_t bodyLength) : body_(body), length_(bodyLength) {}

  // The next field's bytes, as stored (enciphered). False, with damage()
  // saying why, when its header or its bytes do not fit in the body.
  bool next(std::string_view& field) {
    const auto left = static_cast<int64_t>(length_ - at_);
    if (!headerFits(left)) return stop(ImageFault::fieldHeaderPastImage, 0);
    const int32_t n = decodeInt32(body_ + at_);
    if (!fieldFits(n, left)) return stop(ImageFault::fieldPastImage, n);
    field = std::string_view(body_ + at_ + 4, static_cast<size_t>(n));
    at_ += 4 + static_cast<size_t>(n);
    ++field_;
    return true;
  }
  // Where the fields walked so far end, within the body.
  size_t offset() const { return at_; }
  // After the last field: whether the fields fill the body exactly, as
  // every image the library writes does.
  bool filled() const { return at_ == length_; }
  // What stopped the walk; after the last field, fieldsShortOfImage when
  // the fields did not fill the body.
  ImageDamage damage() const;

 private:
  bool stop(ImageFault fault, int32_t fieldLength) {
    fault_ = fault;
    fieldLength_ = fieldLength;
    return false;
  }

  const char* body_;
  size_t length_;
  size_t at_ = 0;
  int32_t field_ = 0;
  ImageFault fault_ = ImageFault::none;
  int32_t fieldLength_ = 0;
};

// Whether an image's length (prefix included) can hold fieldCount field
// headers: the checks that come before the walk.
inline ImageDamage checkImageLength(int64_t length, int32_t fieldCount) {
  ImageDamage d;
  d.length = length;
  d.fieldCount = fieldCount;
  if (length < 4)
    d.fault = ImageFault::lengthBelowPrefix;
  else if (length < 4 + 4 * static_cast<int64_t>(fieldCount))
    d.fault = ImageFault::tooShortForFields;
  return d;
}

// Walks an image (length prefix included) of fieldCount fields, calling
// visit(field number, the field's stored bytes) for each field that fits.
// Returns what is wrong with the image: its length too short for the
// headers, a field that does not fit, or fields that do not fill it.
template <typename Visit>
ImageDamage walkImage(std::string_view image, int32_t fieldCount, Visit&& visit) {
  const ImageDamage length = checkImageLength(static_cast<int64_t>(image.size()), fieldCount);
  if (!length.ok()) return length;
  FieldWalker walker(image.data() + 4, image.size() - 4);
  std::string_view field;
  for (int32_t f = 0; f < fieldCount && walker.next(field); ++f) visit(f, field);
  return walker.damage();
}

// How far a walk of the field headers in a file got.
struct HeaderWalk {
  ImageDamage damage;      // a header or field that does not fit the image
  int64_t at = 0;          // the file offset where the walk stopped
  bool cutByFile = false;  // a header or field reaches past the file's end
  bool complete() const { return damage.ok() && !cutByFile; }
};

// Walks fieldCount field headers of the image of `length` bytes at
// `position` in a file of fileSize bytes, without the image in memory:
// readHeader(offset, char* four) reads one header, false when it cannot.
// The walk stops at the first fault, or (cutByFile) at the first header
// or field that the file's end cuts, as it cuts an image whose tail never
// reached the disk; with fileSize at or past the image's end it never is.
template <typename ReadHeader>
HeaderWalk walkHeaders(int64_t position, int64_t length, int64_t fileSize, int32_t fieldCount,
                       ReadHeader&& readHeader) {
  HeaderWalk walk;
  int64_t& at = walk.at;
  at = position + 4;
  const int64_t end = position + length;
  const auto stop = [&](ImageFault fault, int32_t field, int64_t fieldLength) {
    walk.damage.fault = fault;
    walk.damage.field = field;
    walk.damage.length = fieldLength;
    return walk;
  };
  const auto cut = [&] {
    walk.cutByFile = true;
    return walk;
  };
  for (int32_t f = 0; f < fieldCount; ++f) {
    char header[4];
    if (!headerFits(end - at)) return stop(ImageFault::fieldHeaderPastImage, f, 0);
    if (at + 4 > fileSize) return cut();
    if (!readHeader(at, header)) return stop(ImageFault::fieldHeaderPastImage, f, 0);
    const int32_t n = decodeInt32(header);
    if (!fieldFits(n, end - at)) return stop(ImageFault::fieldPastImage, f, n);
    at += 4 + n;
    if (at > fileSize) return cut();
  }
  return walk;
}

inline ImageDamage checkImage(std::string_view image, int32_t fieldCount) {
  return walkImage(image, fieldCount, [](int32_t, std::string_view) {});
}

}  // namespace mero
