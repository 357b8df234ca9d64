#pragma once
// Finding the positions an index file lists more than once, which open drops
// (all but the first copy) as what a torn delete left behind.

#include <cstdint>
#include <vector>

namespace mero {

// The positions (all >= 0) that occur more than once in entries, ascending.
// Entries that ascend strictly, as appends leave them, are known free of
// repeats in one pass; others are sorted (a radix sort: open runs this over
// every entry of the index, where a hash set of millions of positions took
// about half of the open).
std::vector<int32_t> repeatedPositions(const std::vector<int32_t>& entries);

}  // namespace mero
