#pragma once
// A file written from scratch under its draft name (rewrite_recovery.h),
// removed again unless the rewrite got as far as committing it.

#include <string>
#include <string_view>
#include <utility>

#include "platform/file.h"

namespace mero {

class DraftFile {
 public:
  explicit DraftFile(std::string path) : path_(std::move(path)) {}
  ~DraftFile() {
    file_.close();
    if (!kept_) File::remove(path_);
  }
  DraftFile(const DraftFile&) = delete;
  DraftFile& operator=(const DraftFile&) = delete;

  // A draft a killed rewrite left is removed first: drafts are never resumed.
  bool create() {
    bool created = false;
    return File::remove(path_) && File::createIfMissing(path_, &created) && created && file_.openAppend(path_);
  }
  bool append(const std::string& bytes) { return bytes.empty() || file_.append(bytes.data(), bytes.size()); }
  // Large appends collect in a buffer and go out a megabyte at a time.
  bool appendBuffered(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() < (1u << 20)) return true;
    const bool ok = append(buffer_);
    buffer_.clear();
    return ok;
  }
  bool writeAt(int64_t offset, const std::string& bytes) { return file_.writeAt(offset, bytes.data(), bytes.size()); }
  // Writes what is buffered, syncs and closes: the draft is complete.
  bool finish() {
    const bool ok = append(buffer_) && file_.sync();
    buffer_.clear();
    file_.close();
    return ok;
  }
  bool openForPatching() { return file_.openReadWrite(path_); }
  // From the commit on, the draft is the database's file.
  void keep() { kept_ = true; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  File file_;
  std::string buffer_;
  bool kept_ = false;
};

}  // namespace mero
