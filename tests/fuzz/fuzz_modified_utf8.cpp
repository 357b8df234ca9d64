// Repairing bytes into valid modified UTF-8 before they become a Java
// String. A value deciphered with the wrong key can hold any bytes.
//
// The repair keeps the length, leaves valid text untouched, always yields
// text that passes the check, and finds nothing to do the second time.

#include <string>

#include "fuzz_support.h"
#include "jni/java_conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  std::string repaired = original;
  const bool replaced = mero::jni::makeValidModifiedUtf8(repaired);
  FUZZ_CHECK(repaired.size() == original.size());
  FUZZ_CHECK(mero::jni::isValidModifiedUtf8(repaired));
  FUZZ_CHECK(replaced == !mero::jni::isValidModifiedUtf8(original));
  FUZZ_CHECK(replaced || repaired == original);
  FUZZ_CHECK(repaired.find('\0') == std::string::npos);
  std::string again = repaired;
  FUZZ_CHECK(!mero::jni::makeValidModifiedUtf8(again) && again == repaired);
  // Only replaced bytes change, and each becomes '?'.
  for (size_t i = 0; i < size; ++i) FUZZ_CHECK(repaired[i] == original[i] || repaired[i] == '?');
  return 0;
}
