#include "engine/record_image.h"

namespace mero {

namespace {
// Indexed by ImageFault.
constexpr const char* kFaultMessages[] = {
    "well formed",
    "the image length cannot be read",
    "the image length is below 4",
    "the image runs past the end of the data file",
    "the image length cannot hold its fields",
    "a field starts past the end of the image",
    "a field's length runs past the end of the image",
    "the fields do not fill the image",
};
static_assert(std::size(kFaultMessages) == static_cast<size_t>(ImageFault::fieldsShortOfImage) + 1);
}  // namespace

const char* describe(ImageFault fault) { return kFaultMessages[static_cast<size_t>(fault)]; }

std::string describe(const ImageDamage& d) {
  const std::string length = std::to_string(d.length);
  const std::string field = "field " + std::to_string(d.field);
  switch (d.fault) {
    case ImageFault::lengthBelowPrefix:
      return "image length " + length + " is below 4";
    case ImageFault::lengthPastFile:
      return "image length " + length + " runs past the end of the data file";
    case ImageFault::tooShortForFields:
      return "image length " + length + " cannot hold " + std::to_string(d.fieldCount) + " fields";
    case ImageFault::fieldHeaderPastImage:
      return field + " starts past the end of the image";
    case ImageFault::fieldPastImage:
      return field + " length " + length + " runs past the end of the image";
    case ImageFault::fieldsShortOfImage:
      return "image length " + length + " differs from its fields' 4 + sum(4 + n) = " + std::to_string(d.fieldsEnd);
    default:
      return describe(d.fault);
  }
}

ImageDamage FieldWalker::damage() const {
  ImageDamage d;
  d.length = static_cast<int64_t>(length_) + 4;
  d.fieldsEnd = static_cast<int64_t>(at_) + 4;
  if (fault_ != ImageFault::none) {
    d.fault = fault_;
    d.field = field_;
    if (fault_ == ImageFault::fieldPastImage) d.length = fieldLength_;
  } else if (!filled()) {
    d.fault = ImageFault::fieldsShortOfImage;
  }
  return d;
}

}  // namespace mero
