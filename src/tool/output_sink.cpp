#include "tool/output_sink.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/file.h"
#include "tool/exit_status.h"

namespace mero::tool {

OutputSink::~OutputSink() {
  if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  if (toFile() && !committed_) File::remove(pendingPath_);
}

bool OutputSink::isProtected(const std::string& path) const {
  FileIdentity target;
  if (!File::identify(path, target)) return false;
  for (const std::string& own : protected_) {
    FileIdentity id;
    if (File::identify(own, id) && id.sameFile(target)) return true;
  }
  return false;
}

int OutputSink::open(const std::string& path, bool force, const std::vector<std::string>& protectedPaths,
                     std::string& error) {
  protected_ = protectedPaths;
  force_ = force;
  name_ = path.empty() || path == "-" ? "standard output" : path;
  if (path.empty() || path == "-") {
    file_ = stdout;
    return kSuccess;
  }
  if (isProtected(path)) {
    error = path + " is one of the database's own files: choose another output";
    return kUsage;
  }
  std::error_code ignored;
  if (File::exists(path) && !std::filesystem::is_regular_file(path, ignored)) {
    // A device or a pipe (/dev/null, a FIFO) is written to as it is: it
    // cannot be replaced by a rename, and holds nothing to protect.
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) error = "cannot write to " + path + ": " + std::strerror(errno);
    return file_ != nullptr ? kSuccess : kProblems;
  }
  if (File::exists(path) && !force) {
    error = path + " exists: give --force to replace it";
    return kUsage;
  }
  finalPath_ = path;
  pendingPath_ = path + ".mero-partial";
  // Made afresh, never through a name that leads elsewhere.
  bool created = false;
  std::string reason;
  if (!File::remove(pendingPath_) || !File::createIfMissing(pendingPath_, &created)) {
    reason = File::lastErrorText();
  } else if (!created) {
    reason = File::describeError(EEXIST);
  } else if ((file_ = std::fopen(pendingPath_.c_str(), "wb")) == nullptr) {
    reason = std::strerror(errno);
  }
  if (!reason.empty()) {
    error = "cannot create " + path + ": " + reason;
    finalPath_.clear();
    return kProblems;
  }
  return kSuccess;
}

bool OutputSink::restart() {
  buffer_.clear();
  if (flushed_) return false;
  if (toFile()) {
    std::fclose(file_);
    file_ = std::fopen(pendingPath_.c_str(), "wb");
    failed_ = file_ == nullptr;
  }
  return !failed_;
}

bool OutputSink::flush() {
  if (!buffer_.empty() && !failed_ && file_ != nullptr &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    failed_ = true;
    reason_ = std::strerror(errno);
  }
  if (!toFile() && !buffer_.empty()) flushed_ = true;
  buffer_.clear();
  return !failed_;
}

bool OutputSink::commit(std::string& error) {
  const bool written = flush() && (file_ == nullptr || std::fflush(file_) == 0);
  if (!written && reason_.empty()) reason_ = std::strerror(errno);
  if (file_ != nullptr && file_ != stdout) {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed && !failed_) {
      failed_ = true;
      reason_ = std::strerror(errno);
    }
  }
  if (!written || failed_) {
    error = "cannot write " + name_ + ": " + reason_;
    return false;
  }
  if (toFile()) {
    if (isProtected(finalPath_)) {
      error = finalPath_ + " has become one of the database's own files: it was left as it is";
      return false;
    }
    if (!(force_ ? File::rename(pendingPath_, finalPath_) : File::renameNoReplace(pendingPath_, finalPath_))) {
      error = force_ || !File::exists(finalPath_)
                  ? "cannot put " + finalPath_ + " in place: " + File::lastErrorText()
                  : finalPath_ + " appeared meanwhile: it was left as it is (give --force to replace it)";
      return false;
    }
    committed_ = true;
  }
  return true;
}

}  // namespace mero::tool
