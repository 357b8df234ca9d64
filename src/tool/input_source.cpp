#include "tool/input_source.h"

#include <cstring>

namespace mero::tool {

bool InputSource::refill() {
  at_ = 0;
  end_ = std::fread(buffer_.data(), 1, buffer_.size(), in_);
  if (end_ == 0 && std::ferror(in_)) failed_ = true;
  return end_ > 0;
}

bool InputSource::readLine(std::string& line) {
  line.clear();
  if (peek() < 0) return false;
  for (;;) {
    if (at_ == end_ && !refill()) break;
    const char* start = buffer_.data() + at_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - at_));
    if (newline != nullptr) {
      line.append(start, static_cast<size_t>(newline - start));
      at_ += static_cast<size_t>(newline - start) + 1;
      break;
    }
    line.append(start, end_ - at_);
    at_ = end_;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace mero::tool
