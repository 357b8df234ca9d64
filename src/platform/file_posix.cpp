#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/write_faults.h"
#include "platform/write_log.h"

namespace mero {

namespace {
thread_local int t_lastError = 0;
}  // namespace

File::File(File&& other) noexcept : error_(other.error()), fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    error_.store(other.error(), std::memory_order_relaxed);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void File::noteError(int code) const {
  error_.store(code, std::memory_order_relaxed);
  t_lastError = code;
}

void File::noteLastError(int code) { t_lastError = code; }

int File::lastError() { return t_lastError; }

std::string File::describeError(int code) { return code == 0 ? "no error" : std::strerror(code); }

bool File::createIfMissing(const std::string& path, bool* created) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  const bool made = fd >= 0;
  if (!made && errno == EEXIST) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    noteLastError(errno);
    return false;
  }
  ::close(fd);
  if (made) writeLog::created(path);
  if (created != nullptr) *created = made;
  return true;
}

bool File::openReadWrite(const std::string& path) {
  close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) noteError(errno);
  if (fd_ >= 0) writeLog::opened(fd_, path);
  return fd_ >= 0;
}

bool File::openAppend(const std::string& path) {
  close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ >= 0) writeLog::created(path);
  if (fd_ < 0 && errno == EEXIST) fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ < 0) noteError(errno);
  if (fd_ >= 0) writeLog::opened(fd_, path);
  return fd_ >= 0;
}

bool File::isOpen() const { return fd_ >= 0; }

void File::close() {
  if (fd_ < 0) return;
  writeLog::closed(fd_);
  ::close(std::exchange(fd_, -1));
}

int64_t File::readAt(int64_t offset, void* buffer, size_t n) const {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      noteError(errno);
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

namespace {
// Whether one write call wrote something; when it did not, the reason goes to
// `error` (a call that writes nothing would never finish the loop: EIO).
// Callers retry EINTR before asking.
bool wroteSome(ssize_t put, int& error) {
  if (put > 0) return true;
  error = put < 0 ? errno : EIO;
  return false;
}

// Writes all n bytes at offset, or at the end of the file when offset < 0
// (a file opened for appending), going on after short writes. The error
// number of a failure goes to `error`; a planted failure reads as EIO.
bool writeAll(int fd, const void* buffer, size_t whole, int64_t offset, int& error) {
  const writeFaults::Decision decision = writeFaults::beforeWrite(offset, whole);
  const size_t n = decision.bytes;
  const auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const ssize_t put = offset < 0 ? ::write(fd, in + done, n - done)
                                   : ::pwrite(fd, in + done, n - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (!wroteSome(put, error)) return false;
    done += static_cast<size_t>(put);
  }
#ifdef MERO_WRITE_FAULTS
  // An append's offset is where the file position ended, less what was written.
  writeLog::wrote(fd, offset >= 0 ? offset : static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR)) - static_cast<int64_t>(n),
                  buffer, n);
#endif
  if (decision.exitAfter) writeFaults::endProcess();
  if (decision.fail) error = EIO;
  return !decision.fail;
}
}  // namespace

bool File::writeAt(int64_t offset, const void* buffer, size_t n) {
  int error = 0;
  if (writeAll(fd_, buffer, n, offset, error)) return true;
  noteError(error);
  return false;
}

namespace {
// Writes the first n bytes of the pieces at offset with pwritev, IOV_MAX
// pieces a call, going on after short writes.
bool writeGathered(int fd, const File::Piece* pieces, size_t count, size_t n, int64_t offset, int& error) {
  std::vector<iovec> vectors;
  vectors.reserve(count);
  for (size_t i = 0, left = n; i < count && left > 0; ++i) {
    const size_t take = std::min(pieces[i].n, left);
    vectors.push_back(iovec{const_cast<void*>(pieces[i].bytes), take});
    left -= take;
  }
  size_t done = 0;
  size_t first = 0;
  while (done < n) {
    const int batch = static_cast<int>(std::min<size_t>(vectors.size() - first, IOV_MAX));
    const ssize_t put = ::pwritev(fd, vectors.data() + first, batch, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (!wroteSome(put, error)) return false;
    done += static_cast<size_t>(put);
    // Skip what was written: whole pieces, then part of the next one.
    for (auto left = static_cast<size_t>(put); left > 0;) {
      iovec& v = vectors[first];
      const size_t step = std::min(left, v.iov_len);
      v.iov_base = static_cast<char*>(v.iov_base) + step;
      v.iov_len -= step;
      left -= step;
      if (v.iov_len == 0) ++first;
    }
  }
  return true;
}
}  // namespace

bool File::writeGatheredAt(int64_t offset, const Piece* pieces, size_t count) {
  size_t whole = 0;
  for (size_t i = 0; i < count; ++i) whole += pieces[i].n;
  const writeFaults::Decision decision = writeFaults::beforeWrite(offset, whole);
  int error = 0;
  if (!writeGathered(fd_, pieces, count, decision.bytes, offset, error)) {
    noteError(error);
    return false;
  }
#ifdef MERO_WRITE_FAULTS
  std::string bytes;
  for (size_t i = 0; i < count && bytes.size() < decision.bytes; ++i)
    bytes.append(static_cast<const char*>(pieces[i].bytes), std::min(pieces[i].n, decision.bytes - bytes.size()));
  writeLog::wrote(fd_, offset, bytes.data(), bytes.size());
#endif
  if (decision.exitAfter) writeFaults::endProcess();
  if (decision.fail) noteError(EIO);
  return !decision.fail;
}

bool File::append(const void* buffer, size_t n) {
  int error = 0;
  if (writeAll(fd_, buffer, n, -1, error)) return true;
  noteError(error);
  return false;
}

int64_t File::size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    noteError(errno);
    return -1;
  }
  return static_cast<int64_t>(info.st_size);
}

bool File::sync() {
  if (::fsync(fd_) != 0) {
    noteError(errno);
    return false;
  }
  writeLog::synced(fd_);
  return true;
}

bool File::truncate(int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    noteError(errno);
    return false;
  }
  writeLog::truncated(fd_, size);
  return true;
}

namespace {
// flock locks belong to the open file description and to the file's inode,
// so two opens conflict even within one process and through any path.
File::LockResult takeLock(int fd, int kind) {
  if (writeFaults::locksUnsupported()) return File::LockResult::unsupported;
  for (;;) {
    if (::flock(fd, kind | LOCK_NB) == 0) return File::LockResult::taken;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return File::LockResult::heldElsewhere;
    return File::LockResult::unsupported;  // ENOLCK, EOPNOTSUPP, EINVAL
  }
}
}  // namespace

File::LockResult File::lockShared() {
  const LockResult result = takeLock(fd_, LOCK_SH);
  if (result != LockResult::taken) noteError(errno);
  return result;
}

File::LockResult File::lockExclusive() {
  const LockResult result = takeLock(fd_, LOCK_EX);
  if (result != LockResult::taken) noteError(errno);
  return result;
}

// A missing file is an answer, not a failure: exists() notes no error.
bool File::exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool File::rename(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) {
    writeLog::renamed(from, to);
    return true;
  }
  noteLastError(errno);
  return false;
}

bool File::remove(const std::string& path) {
  if (::unlink(path.c_str()) == 0) {
    writeLog::removed(path);
    return true;
  }
  if (errno == ENOENT) return true;
  noteLastError(errno);
  return false;
}

bool File::renameNoReplace(const std::string& from, const std::string& to) {
#if defined(__linux__) && defined(SYS_renameat2)
  constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kNoReplace) == 0) {
    writeLog::renamed(from, to);
    return true;
  }
  if (errno != ENOSYS && errno != EINVAL) {
    noteLastError(errno);
    return false;
  }
#endif
  // Where the kernel or the file system has no such rename: a second link
  // fails when the name is taken; then the old name goes.
  if (::link(from.c_str(), to.c_str()) != 0 || ::unlink(from.c_str()) != 0) {
    noteLastError(errno);
    return false;
  }
  writeLog::renamed(from, to);
  return true;
}

namespace {
FileIdentity identityOf(const struct stat& info) {
  FileIdentity id;
  id.volume = static_cast<uint64_t>(info.st_dev);
  id.id = static_cast<uint64_t>(info.st_ino);
  id.size = static_cast<int64_t>(info.st_size);
  id.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return id;
}
}  // namespace

bool File::identify(const std::string& path, FileIdentity& out) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    noteLastError(errno);
    return false;
  }
  out = identityOf(info);
  return true;
}

bool File::identify(FileIdentity& out) const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    noteError(errno);
    return false;
  }
  out = identityOf(info);
  return true;
}

bool File::syncDirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (!ok) noteLastError(errno);
  if (fd >= 0) ::close(fd);
  if (ok) writeLog::folderSynced(path);
  return ok;
}

}  // namespace mero
