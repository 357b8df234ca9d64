#pragma once
// Structures that state invariants check them after each change in debug
// builds, which the tests' engine is; the shipped library is built with
// NDEBUG and checks nothing. A full check is a pass over the structure, so
// it follows every change only while the structure is small; a larger one
// is checked once every size / kChecksSpread changes, so that a change
// costs about kChecksSpread steps of checking whatever the size.

#include <cstddef>
#include <cstdint>

namespace mero {

inline constexpr size_t kAlwaysCheckedSize = 64;
inline constexpr size_t kChecksSpread = 16;

// Whether the change just made to a structure of `size` is due a full
// check; `changes` counts the changes since its last one.
inline bool fullCheckDue(size_t size, uint32_t& changes) {
  if (size <= kAlwaysCheckedSize || ++changes >= size / kChecksSpread) {
    changes = 0;
    return true;
  }
  return false;
}

}  // namespace mero

#ifdef NDEBUG
#define MERO_CHECK_INVARIANTS(size, changes) ((void)0)
#else
#define MERO_CHECK_INVARIANTS(size, changes)                    \
  do {                                                          \
    if (::mero::fullCheckDue(size, changes)) checkInvariants(); \
  } while (false)
#endif
