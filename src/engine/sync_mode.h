#pragma once
// How far each change is made durable before the call that made it returns
// (crash_order.h, rules 9 to 15).
//   off    every change reaches the operating system: it survives a killed
//          process, not a power cut or an operating-system crash;
//   close  as off, and shutdown makes all three files durable before it
//          returns, so a closed database survives a power cut whole;
//   full   every change is durable, in an order that a power cut cannot
//          turn into a lost or garbled acknowledged change.

#include <cctype>
#include <string_view>

namespace mero {

enum class SyncMode { off, close, full };

// The mode named "OFF", "CLOSE" or "FULL" in any case. A missing or unknown
// name is close, the default: a misspelt setting never weakens durability
// below what a closed database is promised.
inline SyncMode syncModeNamed(const char* name) {
  if (name == nullptr) return SyncMode::close;
  const auto is = [&](std::string_view word) {
    const std::string_view given(name);
    if (given.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(given[i])) != word[i]) return false;
    return true;
  };
  if (is("OFF")) return SyncMode::off;
  if (is("FULL")) return SyncMode::full;
  return SyncMode::close;
}

}  // namespace mero
