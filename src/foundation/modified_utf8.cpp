#include "foundation/modified_utf8.h"

#include <cstring>

namespace mero {

namespace {

inline bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }
inline bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u < 0xDC00; }
inline bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u < 0xE000; }

// Length of the plain-ASCII run (no zero byte) at the start of in. Eight
// bytes at a time while it lasts: a byte in 1..127 keeps its top bit clear
// both as it is and less one, and only a zero byte borrows, so a word passes
// exactly when all eight of its bytes are plain ASCII.
size_t asciiRun(std::string_view in) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kTops = 0x8080808080808080u;
  size_t i = 0;
  for (; in.size() - i >= 8; i += 8) {
    uint64_t word;
    std::memcpy(&word, in.data() + i, 8);
    if (((word - kOnes) | word) & kTops) break;
  }
  while (i < in.size()) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c == 0 || c >= 0x80) break;
    ++i;
  }
  return i;
}

// Decodes the modified UTF-8 sequence at in[i] into one UTF-16 code unit
// (surrogates included). Returns its length, or 0 when it is malformed.
size_t decodeModified(std::string_view in, size_t i, uint32_t& unit) {
  const auto c = static_cast<unsigned char>(in[i]);
  if (c >= 0x01 && c < 0x80) {
    unit = c;
    return 1;
  }
  if (c >= 0xC0 && c < 0xE0) {
    if (in.size() - i < 2) return 0;
    const auto c1 = static_cast<unsigned char>(in[i + 1]);
    if (!isContinuation(c1)) return 0;
    unit = ((c & 0x1Fu) << 6) | (c1 & 0x3Fu);
    // Only U+0000 may take the long two-byte form (C0 80).
    if (unit < 0x80 && unit != 0) return 0;
    return 2;
  }
  if (c >= 0xE0 && c < 0xF0) {
    if (in.size() - i < 3) return 0;
    const auto c1 = static_cast<unsigned char>(in[i + 1]);
    const auto c2 = static_cast<unsigned char>(in[i + 2]);
    if (!isContinuation(c1) || !isContinuation(c2)) return 0;
    unit = ((c & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
    if (unit < 0x800) return 0;
    return 3;
  }
  return 0;
}

}  // namespace

bool isValidModifiedUtf8(std::string_view bytes) {
  size_t i = asciiRun(bytes);
  while (i < bytes.size()) {
    uint32_t unit = 0;
    const size_t n = decodeModified(bytes, i, unit);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool makeValidModifiedUtf8(std::string& bytes) {
  bool replaced = false;
  size_t i = asciiRun(bytes);
  while (i < bytes.size()) {
    uint32_t unit = 0;
    const size_t n = decodeModified(bytes, i, unit);
    if (n == 0) {
      bytes[i++] = '?';
      replaced = true;
    } else {
      i += n;
    }
  }
  return replaced;
}

void appendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool modifiedToUtf8(std::string_view in, std::string& out, size_t& replaced) {
  const size_t run = asciiRun(in);
  out.append(in.data(), run);
  size_t i = run;
  while (i < in.size()) {
    uint32_t unit = 0;
    const size_t n = decodeModified(in, i, unit);
    if (n == 0) return false;
    i += n;
    if (isHighSurrogate(unit)) {
      uint32_t low = 0;
      const size_t m = i < in.size() ? decodeModified(in, i, low) : 0;
      if (m != 0 && isLowSurrogate(low)) {
        appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
        i += m;
        continue;
      }
    }
    if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      unit = 0xFFFD;
      ++replaced;
    }
    appendUtf8(unit, out);
  }
  return true;
}

bool utf8ToModified(std::string_view in, std::string& out) {
  const size_t run = asciiRun(in);
  out.append(in.data(), run);
  size_t i = run;
  while (i < in.size()) {
    const auto c = static_cast<unsigned char>(in[i]);
    uint32_t cp = 0;
    size_t n = 0;
    uint32_t minimum = 0;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if (c >= 0xC2 && c < 0xE0) {
      cp = c & 0x1Fu, n = 2, minimum = 0x80;
    } else if (c >= 0xE0 && c < 0xF0) {
      cp = c & 0x0Fu, n = 3, minimum = 0x800;
    } else if (c >= 0xF0 && c < 0xF5) {
      cp = c & 0x07u, n = 4, minimum = 0x10000;
    } else {
      return false;
    }
    if (in.size() - i < n) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto ck = static_cast<unsigned char>(in[i + k]);
      if (!isContinuation(ck)) return false;
      cp = (cp << 6) | (ck & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    i += n;
    if (cp == 0) {
      out.append("\xC0\x80", 2);
    } else if (cp >= 0x10000) {
      appendUtf8(0xD800 + ((cp - 0x10000) >> 10), out);
      appendUtf8(0xDC00 + ((cp - 0x10000) & 0x3FF), out);
    } else {
      appendUtf8(cp, out);
    }
  }
  return true;
}

void appendModifiedUtf8(const char16_t* units, size_t n, std::string& out) {
  size_t at = out.size();
  out.resize(at + 3 * n);  // the longest form: three bytes a unit
  char* to = out.data();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = units[i];
    if (u - 1 < 0x7F) {
      to[at++] = static_cast<char>(u);
    } else if (u < 0x800) {  // U+0000 included: C0 80
      to[at++] = static_cast<char>(0xC0 | (u >> 6));
      to[at++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {  // each surrogate half on its own, as the JVM writes it
      to[at++] = static_cast<char>(0xE0 | (u >> 12));
      to[at++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      to[at++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  out.resize(at);
}

}  // namespace mero
