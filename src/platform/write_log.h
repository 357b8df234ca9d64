#pragma once
// Test builds (MERO_WRITE_FAULTS) can record every write, sync and truncation
// that reaches a file, with the file's path, and every file made, removed or
// renamed and folder synced, so a test can rebuild the files as a power cut
// could leave them: any write since a file's last sync kept, lost or cut at
// a sector, and any name made, removed or renamed since the folder's last
// sync there or not. Production builds compile the calls away.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mero::writeLog {

struct Event {
  enum class Kind { write, sync, truncate, create, remove, rename, syncFolder };
  Kind kind;
  std::string path;   // syncFolder: a file in the folder; rename: the old name
  int64_t offset;     // write: where the bytes went; truncate: the new size
  std::string bytes;  // write: the bytes; rename: the new name
};

#ifdef MERO_WRITE_FAULTS
// Opens are always noted (cheaply), so files opened before recording began
// are named too. `file` is the handle or descriptor, as an integer.
void opened(intptr_t file, const std::string& path);
void closed(intptr_t file);
void wrote(intptr_t file, int64_t offset, const void* bytes, size_t n);
void synced(intptr_t file);
void truncated(intptr_t file, int64_t size);
void created(const std::string& path);
void removed(const std::string& path);
void renamed(const std::string& from, const std::string& to);
void folderSynced(const std::string& pathInFolder);

void start();               // clears the log and records from now on
size_t eventsSoFar();       // how many events the log holds
std::vector<Event> stop();  // stops recording and hands the log over
#else
inline void opened(intptr_t, const std::string&) {}
inline void closed(intptr_t) {}
inline void wrote(intptr_t, int64_t, const void*, size_t) {}
inline void synced(intptr_t) {}
inline void truncated(intptr_t, int64_t) {}
inline void created(const std::string&) {}
inline void removed(const std::string&) {}
inline void renamed(const std::string&, const std::string&) {}
inline void folderSynced(const std::string&) {}
#endif

}  // namespace mero::writeLog
