#include "sample_records.h"

#include <cstdio>

namespace mero::bench {

namespace {

constexpr const char* kSyllables[] = {"ba",  "ber", "ca", "dor", "el", "fa",  "gan",  "hol", "is",  "ja",
                                      "kel", "lin", "mo", "nar", "os", "pra", "quin", "ros", "sal", "tor"};
constexpr uint64_t kSyllableCount = sizeof(kSyllables) / sizeof(kSyllables[0]);
constexpr uint64_t kCities = 250;

uint64_t splitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::string syllables(uint64_t& state, int count) {
  std::string s;
  for (int k = 0; k < count; ++k) s += kSyllables[splitMix(state) % kSyllableCount];
  return s;
}

std::string city(uint64_t number) {
  uint64_t state = number * 7919 + 1;
  std::string s = syllables(state, 2 + static_cast<int>(number % 2));
  s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

}  // namespace

std::vector<uint8_t> sampleIndexedFlags() { return {1, 1, 0, 0, 0}; }

void sampleRecord(int32_t i, FieldValues& out) {
  uint64_t state = static_cast<uint64_t>(i) * 0x2545F4914F6CDD1Dull + 17;
  char key[16];
  std::snprintf(key, sizeof key, "K%010lld",
                static_cast<long long>((static_cast<int64_t>(i) * 48271 + 12345) % 2147483647));
  out.clear();
  out.add(key);
  out.add(city(splitMix(state) % kCities));
  out.add(syllables(state, 2) + " " + syllables(state, 3));
  std::string note;
  const int words = 3 + static_cast<int>(splitMix(state) % 4);
  for (int w = 0; w < words; ++w) {
    if (w > 0) note += ' ';
    note += syllables(state, 1 + static_cast<int>(splitMix(state) % 3));
  }
  out.add(note);
  out.add(std::to_string(splitMix(state) % 100000) + "." + std::to_string(10 + splitMix(state) % 90));
}

std::string sampleCityPiece() {
  std::string piece = city(7).substr(1, 3);
  for (char& c : piece) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return piece;
}

std::string sampleNotePiece() { return "OSPR"; }

}  // namespace mero::bench
