#pragma once
// Checks of method results that print what came back when they fail.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "marshall_client.h"
#include "test_report.h"

namespace scenario {

inline std::string describe(const std::optional<Record>& record) {
  if (!record) return "null";
  std::string text = "[";
  for (size_t i = 0; i < record->size(); ++i) text += (i ? ", \"" : "\"") + (*record)[i] + "\"";
  return text + "]";
}

inline std::string describe(const std::optional<std::vector<int32_t>>& positions) {
  if (!positions) return "null";
  std::string text = "{";
  for (size_t i = 0; i < positions->size(); ++i) text += (i ? ", " : "") + std::to_string((*positions)[i]);
  return text + "}";
}

inline void expectRecord(const std::optional<Record>& actual, const std::optional<Record>& expected,
                         const char* what) {
  report::check(actual == expected, "%s: got %s, expected %s", what, describe(actual).c_str(),
                describe(expected).c_str());
}

inline void expectPositions(const std::optional<std::vector<int32_t>>& actual, std::vector<int32_t> expected,
                            const char* what) {
  report::check(actual == expected, "%s: got %s, expected %s", what, describe(actual).c_str(),
                describe(std::optional(expected)).c_str());
}

inline void expectInt(long actual, long expected, const char* what) {
  report::check(actual == expected, "%s: got %ld, expected %ld", what, actual, expected);
}

}  // namespace scenario
