#pragma once
// Where exported data goes: stdout, or a file that appears only when it is
// complete. A file is written under a temporary name beside it and renamed
// into place by commit(); an export that fails leaves nothing behind, an
// existing file is replaced only with --force, and without it the rename
// never replaces a file that appeared meanwhile. Neither the output nor its
// temporary file may be one of the database's own files, by whatever name.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace mero::tool {

class OutputSink {
 public:
  OutputSink() = default;
  ~OutputSink();
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // path "" or "-" is stdout. `protectedPaths` are files that must never be
  // written (the database's own). Returns an exit status (kSuccess when open).
  int open(const std::string& path, bool force, const std::vector<std::string>& protectedPaths, std::string& error);
  // For writers that make the file themselves (SQLite): the name to write.
  const std::string& pendingPath() const { return pendingPath_; }
  bool toFile() const { return !finalPath_.empty(); }
  // Keeps everything in memory until commit (a live read that may start over).
  void holdUntilCommit() { hold_ = true; }
  // Drops what was written so far (a live read starting over). False when
  // some of it has already left for stdout or a device.
  bool restart();

  // Data collects in a buffer that goes out in large writes.
  std::string& buffer() { return buffer_; }
  bool flushIfFull() { return hold_ || buffer_.size() < (1u << 20) || flush(); }
  // Writes what is left and puts the file in place.
  bool commit(std::string& error);

 private:
  bool flush();
  bool isProtected(const std::string& path) const;

  std::string name_;  // what messages call the output: its path, or "standard output"
  std::string finalPath_;
  std::string pendingPath_;
  std::vector<std::string> protected_;
  std::FILE* file_ = nullptr;
  bool force_ = false;
  bool committed_ = false;
  bool failed_ = false;
  bool hold_ = false;
  bool flushed_ = false;
  std::string reason_;
  std::string buffer_;
};

}  // namespace mero::tool
