// Find: the positions of the live records that match every non-empty term,
// in record order. Term i constrains field i; matching ignores the case of
// ASCII letters and is by whole value or, where `partial` says so, by
// substring.
//
// One term on an indexed field picks the candidates through an index (the
// value hash for a whole value, the search text for a substring); the other
// indexed terms are checked against the search text in memory, and only the
// records still matching are read from the data file, once each, for the
// terms on other fields.

#include <algorithm>
#include <string>

#include "engine/database.h"
#include "engine/record_image.h"
#include "engine/record_order_reader.h"

namespace mero {

namespace {

constexpr size_t kFindReadAheadBytes = size_t{4} << 20;

struct Term {
  int32_t field;
  bool partial;
  std::string upper;  // the term upper-cased, as the search text holds values
};

bool matches(const Term& term, std::string_view upperValue) {
  if (!term.partial) return upperValue == term.upper;
  return findBytes(upperValue.data(), upperValue.size(), term.upper) != nullptr;
}

// `padded` has kSearchPadding zero bytes after the value.
bool matchesPadded(const Term& term, std::string_view padded) {
  if (!term.partial) return padded == term.upper;
  return findBytesPadded(padded.data(), padded.size(), term.upper) != nullptr;
}

// Checks the terms on fields that are not indexed against one record image,
// deciphering and upper-casing only the fields that have terms. An image
// whose fields do not fit in it matches nothing.
bool imageMatches(std::string_view image, int32_t fieldCount, const std::vector<Term>& terms, const FieldCipher& cipher,
                  std::string& scratch) {
  FieldWalker walker(image.data() + 4, image.size() - 4);
  std::string_view field;
  size_t next = 0;  // terms are in ascending field order
  for (int32_t f = 0; f < fieldCount && next < terms.size(); ++f) {
    if (!walker.next(field)) return false;
    const size_t n = field.size();
    const char* value = field.data();
    if (terms[next].field != f) continue;
    // Whole values of another length can never match.
    if (terms[next].partial || n == terms[next].upper.size()) {
      scratch.assign(n + kSearchPadding, '\0');
      cipher.decodeUpper(value, n, scratch.data());
      if (!matchesPadded(terms[next], std::string_view(scratch.data(), n))) return false;
    } else {
      return false;
    }
    ++next;
  }
  return true;
}

void sortUnique(std::vector<uint32_t>& slots) {
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
}

}  // namespace

std::vector<int32_t> Database::find(const std::vector<uint8_t>& partial, const FieldValues& terms) const {
  lock_.assertHeld();
  std::vector<int32_t> result;
  if (!open_ || partial.size() != static_cast<size_t>(terms.size())) return result;

  std::vector<Term> memoryTerms;
  std::vector<Term> fileTerms;
  for (int32_t i = 0; i < terms.size(); ++i) {
    if (terms[i].empty()) continue;
    // A term beyond the last field names no field, so nothing can match it.
    if (i >= schema_.fieldCount) return result;
    Term term{i, partial[static_cast<size_t>(i)] != 0, std::string(terms[i])};
    upperCase(term.upper.data(), term.upper.size());
    (isIndexed(i) ? memoryTerms : fileTerms).push_back(std::move(term));
  }

  // Candidates from one indexed term, whole-value terms first: they are the
  // most selective and their index needs no scan at all.
  std::stable_partition(memoryTerms.begin(), memoryTerms.end(), [](const Term& t) { return !t.partial; });
  const bool narrowed = !memoryTerms.empty();
  // The records the terms in memory pass, in record order.
  std::vector<int32_t> candidates;
  const auto consider = [&](uint32_t slot) {
    for (size_t t = narrowed ? 1 : 0; t < memoryTerms.size(); ++t)
      if (!matches(memoryTerms[t], searchTexts_[memoryTerms[t].field].valueOf(slot))) return;
    candidates.push_back(records_.positionOfSlot(slot));
  };
  if (narrowed && !memoryTerms.front().partial) {
    // The value's slots come out in record order, all of them live.
    builtValueHashes(memoryTerms.front().field).forEachSlot(memoryTerms.front().upper, consider);
  } else if (narrowed) {
    std::vector<uint32_t> slots;
    searchTexts_[memoryTerms.front().field].forEachContaining(memoryTerms.front().upper, [&](uint32_t slot) {
      if (records_.isLive(slot)) slots.push_back(slot);
    });
    sortUnique(slots);
    for (const uint32_t slot : slots) consider(slot);
  } else {
    candidates.reserve(static_cast<size_t>(records_.count()));
    for (uint32_t slot = 0; slot < records_.slotCount(); ++slot)
      if (records_.isLive(slot)) consider(slot);
  }
  if (fileTerms.empty()) return candidates;
  // A search runs often and beside the application's own memory: it reads
  // ahead less than open does.
  RecordOrderReader reader(dataFile_, dataEnd_, candidates, schema_.fieldCount, kFindReadAheadBytes);
  std::string scratch;
  for (size_t r = 0; r < candidates.size(); ++r) {
    const std::string_view image = reader.rawImage(r);
    if (!image.empty() && imageMatches(image, schema_.fieldCount, fileTerms, cipher_, scratch))
      result.push_back(candidates[r]);
  }
  return result;
}

}  // namespace mero
