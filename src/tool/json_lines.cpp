#include "tool/json_lines.h"

#include <cstdint>

#include "foundation/modified_utf8.h"

namespace mero::tool {

void appendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t plain = 0;  // start of the run of bytes that need no escape
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + plain, i - plain);
    plain = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
  }
  out.append(text.data() + plain, text.size() - plain);
  out.push_back('"');
}

namespace {

class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text) : text_(text) {}

  void skipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) ++at_;
  }
  bool take(char c) {
    skipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool atEnd() {
    skipSpace();
    return at_ == text_.size();
  }
  size_t offset() const { return at_; }

  bool readString(std::string& out, std::string& error) {
    out.clear();
    if (!take('"')) return fail(error, "a string value was expected");
    for (;;) {
      if (at_ >= text_.size()) return fail(error, "a string is not closed");
      const auto c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return fail(error, "a control character inside a string");
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (at_ >= text_.size()) return fail(error, "a string is not closed");
      const char e = text_[at_++];
      switch (e) {
        case '"':
          out.push_back('"');
          break;
        case '\\':
          out.push_back('\\');
          break;
        case '/':
          out.push_back('/');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          uint32_t unit = 0;
          if (!hex4(unit)) return fail(error, "a bad \\u escape");
          if (unit >= 0xD800 && unit < 0xDC00) {
            uint32_t low = 0;
            if (text_.substr(at_, 2) != "\\u" || (at_ += 2, !hex4(low)) || low < 0xDC00 || low >= 0xE000)
              return fail(error, "a \\u escape of half a surrogate pair");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          } else if (unit >= 0xDC00 && unit < 0xE000) {
            return fail(error, "a \\u escape of half a surrogate pair");
          }
          appendUtf8(unit, out);
          break;
        }
        default:
          return fail(error, "an unknown escape in a string");
      }
    }
  }

 private:
  bool fail(std::string& error, const char* what) {
    error = std::string(what) + " at column " + std::to_string(at_ + 1);
    return false;
  }
  bool hex4(uint32_t& value) {
    if (text_.size() - at_ < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      value <<= 4;
      if (h >= '0' && h <= '9')
        value |= static_cast<uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f')
        value |= static_cast<uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        value |= static_cast<uint32_t>(h - 'A' + 10);
      else
        return false;
    }
    return true;
  }
  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

bool parseJsonObject(std::string_view line, std::vector<std::pair<std::string, std::string>>& members,
                     std::string& error) {
  members.clear();
  JsonCursor cursor(line);
  if (!cursor.take('{')) {
    error = "the line is not a JSON object";
    return false;
  }
  if (!cursor.take('}')) {
    for (;;) {
      std::string name;
      std::string value;
      if (!cursor.readString(name, error)) return false;
      if (!cursor.take(':')) {
        error = "a ':' was expected at column " + std::to_string(cursor.offset() + 1);
        return false;
      }
      if (!cursor.readString(value, error)) {
        error = "the value of \"" + name + "\" is not a string (" + error + ")";
        return false;
      }
      members.emplace_back(std::move(name), std::move(value));
      if (cursor.take('}')) break;
      if (!cursor.take(',')) {
        error = "a ',' or '}' was expected at column " + std::to_string(cursor.offset() + 1);
        return false;
      }
    }
  }
  if (!cursor.atEnd()) {
    error = "text after the object at column " + std::to_string(cursor.offset() + 1);
    return false;
  }
  return true;
}

}  // namespace mero::tool
