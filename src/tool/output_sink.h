#pragma once
// Where exported data goes: stdout, or a file that appears only when it is
// complete. A file is written under a temporary name beside it and renamed
// into place by commit(); an export that fails leaves nothing behind, and an
// existing file is replaced only with --force.

#include <cstdio>
#include <string>
#include <string_view>

namespace mero::tool {

class OutputSink {
 public:
  OutputSink() = default;
  ~OutputSink();
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // path "" or "-" is stdout. Returns an exit status (kSuccess when open).
  int open(const std::string& path, bool force, std::string& error);
  // For writers that make the file themselves (SQLite): the name to write.
  const std::string& pendingPath() const { return pendingPath_; }
  bool toFile() const { return !finalPath_.empty(); }

  // Data collects in a buffer that goes out in large writes.
  std::string& buffer() { return buffer_; }
  bool flushIfFull() { return buffer_.size() < (1u << 20) || flush(); }
  // Writes what is left and puts the file in place.
  bool commit(std::string& error);

 private:
  bool flush();

  std::string finalPath_;
  std::string pendingPath_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
  bool failed_ = false;
  std::string buffer_;
};

}  // namespace mero::tool
