#pragma once
// What every native method of both libraries wraps its work in: a frame that
// turns any C++ exception (memory exhaustion) into the method's failure
// result, so none crosses into the JVM, and per-thread buffers for a call's
// values and key.

#include <string>

#include "engine/field_values.h"

namespace mero::jni {

template <typename Result, typename Body>
Result guarded(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// The hot methods allocate only when a larger record than before comes
// along. Each call gives back, on its way out, storage that only an
// unusually large record needed, so idle threads do not pin it.
class BorrowedBuffers {
 public:
  BorrowedBuffers() : buffers_(instance()) {}
  ~BorrowedBuffers() {
    buffers_.values.releaseIfLarge();
    releaseIfLarge(buffers_.key);
  }
  BorrowedBuffers(const BorrowedBuffers&) = delete;
  BorrowedBuffers& operator=(const BorrowedBuffers&) = delete;
  FieldValues& values() { return buffers_.values; }
  std::string& key() { return buffers_.key; }

 private:
  struct ThreadBuffers {
    FieldValues values;
    std::string key;
  };
  static ThreadBuffers& instance() {
    thread_local ThreadBuffers buffers;
    return buffers;
  }
  ThreadBuffers& buffers_;
};

}  // namespace mero::jni
