// Find: the positions of the live records that match every non-empty term,
// in record order. Term i constrains field i; matching ignores the case of
// ASCII letters and is by whole value or, where `partial` says so, by
// substring. Terms on indexed fields are answered from the search pool;
// the records still matching are then read once for the other terms.

#include <algorithm>
#include <string>

#include "engine/database.h"

namespace mero {

namespace {

struct Term {
  int32_t field;
  bool partial;
  std::string upper;       // the term upper-cased
  std::string enciphered;  // ... and enciphered, as the pool stores values
};

bool equalsUpper(std::string_view value, std::string_view upperTerm) {
  if (value.size() != upperTerm.size()) return false;
  for (size_t i = 0; i < value.size(); ++i)
    if (upperByte(static_cast<unsigned char>(value[i])) != static_cast<unsigned char>(upperTerm[i]))
      return false;
  return true;
}

}  // namespace

std::vector<int32_t> Database::find(const std::vector<uint8_t>& partial, const FieldValues& terms) {
  std::vector<int32_t> result;
  if (!open_ || partial.size() != static_cast<size_t>(terms.size())) return result;

  std::vector<Term> poolTerms;
  std::vector<Term> fileTerms;
  for (int32_t i = 0; i < terms.size(); ++i) {
    if (terms[i].empty()) continue;
    // A term beyond the last field names no field, so nothing can match it.
    if (i >= schema_.fieldCount) return result;
    Term term{i, partial[static_cast<size_t>(i)] != 0, std::string(terms[i]), {}};
    upperCase(term.upper.data(), term.upper.size());
    if (pool_.isIndexed(i)) {
      term.enciphered = term.upper;
      cipher_.encode(term.enciphered.data(), term.enciphered.size(), term.enciphered.data());
      poolTerms.push_back(std::move(term));
    } else {
      fileTerms.push_back(std::move(term));
    }
  }

  std::string plain(pool_.longestValue(), '\0');
  DataFileReader reader(dataFile_, dataEnd_, 1u << 20);
  result.reserve(static_cast<size_t>(records_.count()));
  for (uint32_t slot = 0; slot < records_.slotCount(); ++slot) {
    if (!records_.isLive(slot)) continue;
    bool matches = true;
    for (const Term& term : poolTerms) {
      const std::string_view stored = pool_.poolEntry(term.field, slot);
      if (term.partial) {
        cipher_.decode(stored.data(), stored.size(), plain.data());
        matches = std::string_view(plain.data(), stored.size()).find(term.upper) != std::string_view::npos;
      } else {
        matches = stored == term.enciphered;  // equal plain values store equal bytes
      }
      if (!matches) break;
    }
    if (matches && !fileTerms.empty()) {
      if (!reader.readRecord(records_.positionOfSlot(slot), schema_.fieldCount, cipher_, scratch_)) continue;
      for (const Term& term : fileTerms) {
        const std::string_view value = scratch_[term.field];
        if (term.partial) {
          std::string upper(value);
          upperCase(upper.data(), upper.size());
          matches = upper.find(term.upper) != std::string::npos;
        } else {
          matches = equalsUpper(value, term.upper);
        }
        if (!matches) break;
      }
    }
    if (matches) result.push_back(records_.positionOfSlot(slot));
  }
  return result;
}

}  // namespace mero
