#include "tool/output_sink.h"

#include <filesystem>

#include "platform/file.h"
#include "tool/exit_status.h"

namespace mero::tool {

OutputSink::~OutputSink() {
  if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  if (toFile() && !committed_) File::remove(pendingPath_);
}

int OutputSink::open(const std::string& path, bool force, std::string& error) {
  if (path.empty() || path == "-") {
    file_ = stdout;
    return kSuccess;
  }
  std::error_code ignored;
  if (File::exists(path) && !std::filesystem::is_regular_file(path, ignored)) {
    // A device or a pipe (/dev/null, a FIFO) is written to as it is: it
    // cannot be replaced by a rename, and holds nothing to protect.
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) error = "cannot write to " + path;
    return file_ != nullptr ? kSuccess : kProblems;
  }
  if (File::exists(path) && !force) {
    error = path + " exists: give --force to replace it";
    return kUsage;
  }
  finalPath_ = path;
  pendingPath_ = path + ".mero-partial";
  File::remove(pendingPath_);
  file_ = std::fopen(pendingPath_.c_str(), "wb");
  if (file_ == nullptr) {
    error = "cannot create " + pendingPath_;
    finalPath_.clear();
    return kProblems;
  }
  return kSuccess;
}

bool OutputSink::flush() {
  if (!buffer_.empty() && !failed_ && file_ != nullptr &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
    failed_ = true;
  buffer_.clear();
  return !failed_;
}

bool OutputSink::commit(std::string& error) {
  const bool written = flush() && (file_ == nullptr || std::fflush(file_) == 0);
  if (file_ != nullptr && file_ != stdout) {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) failed_ = true;
  }
  if (!written || failed_) {
    error = "writing the output failed";
    return false;
  }
  if (toFile()) {
    if (!File::rename(pendingPath_, finalPath_)) {
      error = "cannot rename " + pendingPath_ + " to " + finalPath_;
      return false;
    }
    committed_ = true;
  }
  return true;
}

}  // namespace mero::tool
