#include <windows.h>

#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/write_faults.h"

namespace mero {

namespace {
// Deny-none sharing: other opens of the same file, for reading or writing,
// are not refused while this one is open.
constexpr DWORD kDenyNone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(void* h) { return static_cast<HANDLE>(h); }

OVERLAPPED at(int64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return o;
}

constexpr DWORD kMaxChunk = 1u << 30;
}  // namespace

namespace {
thread_local int t_lastError = 0;
}  // namespace

File::File(File&& other) noexcept : error_(other.error()), handle_(std::exchange(other.handle_, nullptr)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    error_.store(other.error(), std::memory_order_relaxed);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void File::noteError(int code) const {
  error_.store(code, std::memory_order_relaxed);
  t_lastError = code;
}

void File::noteLastError(int code) { t_lastError = code; }

int File::lastError() { return t_lastError; }

namespace {
int lastSystemError() { return static_cast<int>(GetLastError()); }
}  // namespace

bool File::createIfMissing(const std::string& path, bool* created) {
  HANDLE h =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, kDenyNone, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    noteLastError(lastSystemError());
    return false;
  }
  // OPEN_ALWAYS reports a file that was already there through the last error.
  if (created != nullptr) *created = GetLastError() != ERROR_ALREADY_EXISTS;
  CloseHandle(h);
  return true;
}

bool File::openReadWrite(const std::string& path) {
  close();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kDenyNone, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    noteError(lastSystemError());
    return false;
  }
  handle_ = h;
  return true;
}

bool File::openAppend(const std::string& path) {
  close();
  HANDLE h =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, kDenyNone, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    noteError(lastSystemError());
    return false;
  }
  handle_ = h;
  return true;
}

bool File::isOpen() const { return handle_ != nullptr; }

void File::close() {
  if (handle_ != nullptr) CloseHandle(handleOf(std::exchange(handle_, nullptr)));
}

int64_t File::readAt(int64_t offset, void* buffer, size_t n) const {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    OVERLAPPED o = at(offset + static_cast<int64_t>(done));
    DWORD want = static_cast<DWORD>(n - done < kMaxChunk ? n - done : kMaxChunk);
    DWORD got = 0;
    if (!ReadFile(handleOf(handle_), out + done, want, &got, &o)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      noteError(lastSystemError());
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

namespace {
// Writes all n bytes at offset, or at the end of the file when offset < 0
// (a file opened for appending), going on after short writes. The error
// of a failure goes to `error`; a planted failure reads as a device error.
bool writeAll(HANDLE handle, const void* buffer, size_t whole, int64_t offset, int& error) {
  const writeFaults::Decision decision = writeFaults::beforeWrite(offset, whole);
  const size_t n = decision.bytes;
  const auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < n) {
    OVERLAPPED o = at(offset + static_cast<int64_t>(done));
    DWORD want = static_cast<DWORD>(n - done < kMaxChunk ? n - done : kMaxChunk);
    DWORD put = 0;
    if (!WriteFile(handle, in + done, want, &put, offset < 0 ? nullptr : &o)) {
      error = lastSystemError();
      return false;
    }
    if (put == 0) {
      error = ERROR_WRITE_FAULT;
      return false;
    }
    done += put;
  }
  if (decision.exitAfter) writeFaults::endProcess();
  if (decision.fail) error = ERROR_WRITE_FAULT;
  return !decision.fail;
}
}  // namespace

bool File::writeAt(int64_t offset, const void* buffer, size_t n) {
  int error = 0;
  if (writeAll(handleOf(handle_), buffer, n, offset, error)) return true;
  noteError(error);
  return false;
}

// Windows gathers only into unbuffered, page-aligned writes: the pieces are
// copied into one buffer and written at once.
bool File::writeGatheredAt(int64_t offset, const Piece* pieces, size_t count) {
  std::string bytes;
  size_t whole = 0;
  for (size_t i = 0; i < count; ++i) whole += pieces[i].n;
  bytes.reserve(whole);
  for (size_t i = 0; i < count; ++i) bytes.append(static_cast<const char*>(pieces[i].bytes), pieces[i].n);
  return writeAt(offset, bytes.data(), bytes.size());
}

bool File::append(const void* buffer, size_t n) {
  int error = 0;
  if (writeAll(handleOf(handle_), buffer, n, -1, error)) return true;
  noteError(error);
  return false;
}

int64_t File::size() const {
  LARGE_INTEGER s{};
  if (!GetFileSizeEx(handleOf(handle_), &s)) {
    noteError(lastSystemError());
    return -1;
  }
  return s.QuadPart;
}

// Flushing needs a handle with write access; one opened for appending only
// has it (FILE_APPEND_DATA), so openAppend's files flush too.
bool File::sync() {
  if (FlushFileBuffers(handleOf(handle_))) return true;
  noteError(lastSystemError());
  return false;
}

bool File::truncate(int64_t size) {
  LARGE_INTEGER at{};
  at.QuadPart = size;
  if (SetFilePointerEx(handleOf(handle_), at, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(handle_))) return true;
  noteError(lastSystemError());
  return false;
}

namespace {
// Windows byte-range locks are mandatory: a locked range refuses other
// handles' reads and writes. The lock is therefore taken on one byte far
// beyond any real content, which no read or write ever touches, so files
// stay shared for reading and writing exactly as before. A range lock
// belongs to its handle: a second handle conflicts even in this process.
File::LockResult takeLock(HANDLE handle, DWORD flags) {
  if (writeFaults::locksUnsupported()) return File::LockResult::unsupported;
  OVERLAPPED o{};
  o.Offset = 0;
  o.OffsetHigh = 0x7FFFFFF0u;
  if (LockFileEx(handle, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) return File::LockResult::taken;
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return File::LockResult::heldElsewhere;
  return File::LockResult::unsupported;
}
}  // namespace

File::LockResult File::lockShared() {
  const LockResult result = takeLock(handleOf(handle_), 0);
  if (result != LockResult::taken) noteError(lastSystemError());
  return result;
}

File::LockResult File::lockExclusive() {
  const LockResult result = takeLock(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK);
  if (result != LockResult::taken) noteError(lastSystemError());
  return result;
}

bool File::exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool File::rename(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  noteLastError(lastSystemError());
  return false;
}

bool File::remove(const std::string& path) {
  if (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
  noteLastError(lastSystemError());
  return false;
}

bool File::renameNoReplace(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  noteLastError(lastSystemError());
  return false;
}

namespace {
bool identityOf(HANDLE h, FileIdentity& out) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return false;
  out.volume = info.dwVolumeSerialNumber;
  out.id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  out.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  out.modified = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                      info.ftLastWriteTime.dwLowDateTime);
  return true;
}
}  // namespace

bool File::identify(const std::string& path, FileIdentity& out) {
  // No access rights are needed to read a file's attributes; the flag lets
  // the call name a directory as well.
  HANDLE h = CreateFileA(path.c_str(), 0, kDenyNone, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool ok = h != INVALID_HANDLE_VALUE && identityOf(h, out);
  if (!ok) noteLastError(lastSystemError());
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return ok;
}

bool File::identify(FileIdentity& out) const {
  if (identityOf(handleOf(handle_), out)) return true;
  noteError(lastSystemError());
  return false;
}

std::string File::describeError(int error) {
  if (error == 0) return "no error";
  const auto code = static_cast<DWORD>(error);
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) text[--n] = '\0';
  return n > 0 ? std::string(text, n) : "system error " + std::to_string(code);
}

// A file's flush carries its own metadata and MOVEFILE_WRITE_THROUGH makes
// a rename durable, but a deletion (a rollback journal's, which must not come
// back after a power cut) and a new file's entry in its folder belong to the
// folder: it is flushed through a handle of its own, which needs write access
// and backup semantics to open a directory at all.
//
// Many file systems refuse to flush a directory (access denied, or an
// invalid request). There the flush is the best that can be had, not a
// failure: NTFS logs every change to a folder before it is made, and any
// later flush of a file on the volume forces that log to the disk first.
// Refusing here would make every close in CLOSE and every journal in FULL
// fail on such volumes.
namespace {
bool folderFlushUnsupported(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER;
}
}  // namespace

bool File::syncDirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const bool root = dir.size() == 1 || (dir.size() == 3 && dir[1] == ':');  // "\\" or "C:\\" keep their separator
  if (!root) dir.pop_back();
  HANDLE h = CreateFileA(dir.c_str(), GENERIC_READ | GENERIC_WRITE, kDenyNone, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) return true;  // no write access to the folder itself: see above
    noteLastError(static_cast<int>(error));
    return false;
  }
  bool ok = FlushFileBuffers(h) != 0;
  if (!ok) {
    const DWORD error = GetLastError();
    ok = folderFlushUnsupported(error);
    if (!ok) noteLastError(static_cast<int>(error));
  }
  CloseHandle(h);
  return ok;
}

}  // namespace mero
