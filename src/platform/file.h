#pragma once
// A byte file addressed by offset. Every read and write names its offset, so
// no operation depends on a shared stream position, and every write goes
// straight to the operating system: when writeAt returns true the bytes are
// in the OS's hands (not necessarily on the disk; nothing here syncs).
//
// Files are opened in binary mode and shared for reading and writing with
// other opens of the same file. Only truncate() shortens a file.
//
// A call that fails keeps the operating system's reason (errno, or
// GetLastError on Windows): in the File for its own operations, and per
// thread for every call, whole-file ones included. The reason therefore
// survives the closes and removals made while the failure is handled, which
// would overwrite errno.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mero {

// What makes a file this file: where it lives (device and inode, or the
// volume and file ID on Windows), with its size and last-write time, so that
// a file rewritten where it stands (a backup copied over it) no longer
// matches what was noted before.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t id = 0;
  int64_t size = 0;
  int64_t modified = 0;  // in the system's own ticks
  bool sameFile(const FileIdentity& other) const { return volume == other.volume && id == other.id; }
  bool operator==(const FileIdentity&) const = default;
};

class File {
 public:
  File() = default;
  ~File() { close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Creates an empty file at path unless one exists; an existing file is
  // left as it is. False when the file can neither be found nor created.
  // `created` (when given) tells whether this call made the file.
  static bool createIfMissing(const std::string& path, bool* created = nullptr);

  // Opens an existing file for reading and writing; never creates.
  bool openReadWrite(const std::string& path);
  // Opens for appending, creating the file when it is missing.
  bool openAppend(const std::string& path);

  bool isOpen() const;
  void close();

  // Reads up to n bytes at offset. Returns the number read, which is short
  // only at the end of the file, or -1 on an error.
  int64_t readAt(int64_t offset, void* buffer, size_t n) const;
  // Writes all n bytes at offset. False when any part of the write failed.
  bool writeAt(int64_t offset, const void* buffer, size_t n);
  // One piece of a gathered write.
  struct Piece {
    const void* bytes;
    size_t n;
  };
  // Writes the pieces one after another from offset, as one write, without
  // copying them together first where the system can gather (pwritev).
  // False when any part of the write failed.
  bool writeGatheredAt(int64_t offset, const Piece* pieces, size_t count);
  // Writes all n bytes at the end of a file opened with openAppend.
  bool append(const void* buffer, size_t n);
  // The file's current size in bytes, or -1 on an error.
  int64_t size() const;
  // Waits until the file's bytes have reached the disk.
  bool sync();
  // Cuts the file to `size` bytes. Used only to take back a write of our own
  // that failed part-way or never arrived whole; stored bytes are never cut.
  bool truncate(int64_t size);

  // Advisory locks, never waiting. An open engine and a tool's rewrite hold
  // the lock exclusively; the tool's readers take it shared. A lock belongs
  // to this open of the file, so it conflicts with every other open of the
  // same file, in this process too and by whatever path it was named, and it
  // goes when the file is closed or its process dies.
  enum class LockResult {
    taken,
    heldElsewhere,  // a conflicting lock is held through another open
    unsupported,    // the file system keeps no locks (some network shares)
  };
  LockResult lockShared();
  LockResult lockExclusive();

  // Whole-file operations for rewriting a database: rename replaces `to` in
  // one step; remove answers true when the file is gone (or never was).
  static bool exists(const std::string& path);
  static bool rename(const std::string& from, const std::string& to);
  static bool remove(const std::string& path);
  // Renames from to `to` only while no file is at `to`: never replaces one
  // that appeared meanwhile. False (reason "File exists") when one is there.
  static bool renameNoReplace(const std::string& from, const std::string& to);
  // The identity of the file at path, or of this open file; false when it
  // is missing or cannot be examined.
  static bool identify(const std::string& path, FileIdentity& out);
  bool identify(FileIdentity& out) const;
  // The operating system's error of this file's last failed operation, 0
  // while none has failed, and as text ("No space left on device").
  int error() const { return error_.load(std::memory_order_relaxed); }
  std::string errorText() const { return describeError(error()); }
  // The error of the last File call that failed on this thread, and as text.
  static int lastError();
  static std::string lastErrorText() { return describeError(lastError()); }
  // The system's text for an error number ("No such file or directory").
  static std::string describeError(int code);
  // Makes renames and creations in path's directory durable (POSIX only).
  static bool syncDirectoryOf(const std::string& path);

 private:
  // Keeps `code` as this file's reason and as the thread's.
  void noteError(int code) const;
  static void noteLastError(int code);

  mutable std::atomic<int> error_{0};
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace mero
