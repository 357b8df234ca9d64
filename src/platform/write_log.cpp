#include "platform/write_log.h"

#ifdef MERO_WRITE_FAULTS

#include <map>
#include <mutex>

namespace mero::writeLog {

namespace {
std::mutex guard;
std::map<intptr_t, std::string> paths;
bool recording = false;
std::vector<Event> events;

void note(intptr_t file, Event::Kind kind, int64_t offset, const void* bytes, size_t n) {
  const std::lock_guard<std::mutex> hold(guard);
  if (!recording) return;
  const auto found = paths.find(file);
  events.push_back({kind, found == paths.end() ? std::string() : found->second, offset,
                    std::string(static_cast<const char*>(bytes), n)});
}
void noteName(Event::Kind kind, const std::string& path) {
  const std::lock_guard<std::mutex> hold(guard);
  if (recording) events.push_back({kind, path, 0, std::string()});
}
}  // namespace

void opened(intptr_t file, const std::string& path) {
  const std::lock_guard<std::mutex> hold(guard);
  paths[file] = path;
}

void closed(intptr_t file) {
  const std::lock_guard<std::mutex> hold(guard);
  paths.erase(file);
}

void wrote(intptr_t file, int64_t offset, const void* bytes, size_t n) {
  note(file, Event::Kind::write, offset, bytes, n);
}
void synced(intptr_t file) { note(file, Event::Kind::sync, 0, "", 0); }
void truncated(intptr_t file, int64_t size) { note(file, Event::Kind::truncate, size, "", 0); }

void created(const std::string& path) { noteName(Event::Kind::create, path); }
void removed(const std::string& path) { noteName(Event::Kind::remove, path); }
void renamed(const std::string& from, const std::string& to) {
  const std::lock_guard<std::mutex> hold(guard);
  if (recording) events.push_back({Event::Kind::rename, from, 0, to});
}
void folderSynced(const std::string& pathInFolder) { noteName(Event::Kind::syncFolder, pathInFolder); }

size_t eventsSoFar() {
  const std::lock_guard<std::mutex> hold(guard);
  return events.size();
}

void start() {
  const std::lock_guard<std::mutex> hold(guard);
  events.clear();
  recording = true;
}

std::vector<Event> stop() {
  const std::lock_guard<std::mutex> hold(guard);
  recording = false;
  return std::move(events);
}

}  // namespace mero::writeLog

#endif
