#pragma once
// Deterministic records for the microbenchmarks, shaped like the peer
// benchmark's: 0 a unique key, 1 a city (250 values, indexed), 2 a name,
// 3 a note of a few words, 4 an amount. Record i depends on i alone.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/field_values.h"

namespace mero::bench {

constexpr int32_t kSampleFields = 5;
constexpr int32_t kCityField = 1;
constexpr int32_t kNoteField = 3;  // not indexed

// Fields 0 and 1 are indexed.
std::vector<uint8_t> sampleIndexedFlags();

void sampleRecord(int32_t i, FieldValues& out);

// Three letters from inside a city name, in lower case so that case folding
// is exercised; the benchmarks report how many records it matches.
std::string sampleCityPiece();

// Four letters of a note word, in upper case.
std::string sampleNotePiece();

}  // namespace mero::bench
