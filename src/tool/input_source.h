#pragma once
// Buffered byte input from a file or stdin, read in large pieces, for the
// import parsers: byte-at-a-time access without a call per byte.

#include <cstdio>
#include <string>

namespace mero::tool {

class InputSource {
 public:
  explicit InputSource(std::FILE* in) : in_(in), buffer_(1u << 20, '\0') {}

  // The next byte, or -1 at the end of the input (or on a read error).
  int get() { return at_ < end_ || refill() ? static_cast<unsigned char>(buffer_[at_++]) : -1; }
  int peek() { return at_ < end_ || refill() ? static_cast<unsigned char>(buffer_[at_]) : -1; }
  // Reads up to the next '\n' (dropped, with a '\r' before it). False at the end.
  bool readLine(std::string& line);
  bool failed() const { return failed_; }

 private:
  bool refill();

  std::FILE* in_;
  std::string buffer_;
  size_t at_ = 0;
  size_t end_ = 0;
  bool failed_ = false;
};

}  // namespace mero::tool
