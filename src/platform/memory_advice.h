#pragma once
// Advice to the operating system about the large arrays an open builds. The
// system may ignore it; nothing depends on it but speed.

#include <cstddef>
#include <vector>

namespace mero {

// Asks for huge pages behind the whole 2 MiB pages inside [start, start +
// bytes): an array filled from end to end (the tables an open builds) then
// takes one page fault per 2 MiB instead of one per 4 KiB, and the lookups
// into it miss the TLB less. Given before the array is first written, since
// pages already there stay small. Linux only; elsewhere it does nothing.
void adviseHugePages(const void* start, size_t bytes);

// The same for the room a vector has reserved.
template <typename T>
void adviseHugePages(const std::vector<T>& v) {
  adviseHugePages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace mero
