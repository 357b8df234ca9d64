#pragma once
// Test builds (MERO_WRITE_FAULTS) can record every write, sync and truncation
// that reaches a file, with the file's path, so a test can rebuild the files
// as a power cut could leave them: any write since a file's last sync kept,
// lost or cut at a sector. Production builds compile the calls away.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mero::writeLog {

struct Event {
  enum class Kind { write, sync, truncate };
  Kind kind;
  std::string path;
  int64_t offset;     // write: where the bytes went; truncate: the new size
  std::string bytes;  // write only
};

#ifdef MERO_WRITE_FAULTS
// Opens are always noted (cheaply), so files opened before recording began
// are named too. `file` is the handle or descriptor, as an integer.
void opened(intptr_t file, const std::string& path);
void closed(intptr_t file);
void wrote(intptr_t file, int64_t offset, const void* bytes, size_t n);
void synced(intptr_t file);
void truncated(intptr_t file, int64_t size);

void start();               // clears the log and records from now on
std::vector<Event> stop();  // stops recording and hands the log over
#else
inline void opened(intptr_t, const std::string&) {}
inline void closed(intptr_t) {}
inline void wrote(intptr_t, int64_t, const void*, size_t) {}
inline void synced(intptr_t) {}
inline void truncated(intptr_t, int64_t) {}
#endif

}  // namespace mero::writeLog
