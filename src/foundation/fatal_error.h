#pragma once
// The containers' index errors are the library's only output of its own: one
// line on stderr, flushed, then the whole process ends with status 1. They are
// programming faults, so nothing tries to recover from them.

#include <cstdint>

namespace mero {

[[noreturn]] void fatalArrayIndex(int32_t index, int32_t count);
[[noreturn]] void fatalStringIndex(int32_t index, const char* text);

}  // namespace mero
