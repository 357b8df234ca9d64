// Threads: two writers on one database and on two databases, each thread
// with its own JNI environment as Java threads have; and threads that exit
// after using the library, whose per-thread buffers must go with them.

#include <windows.h>

#include <set>

#include "scenario_expectations.h"
#include "scenarios.h"

using report::check;

namespace scenario {

namespace {

constexpr int kRecordsPerThread = 150;

struct Writer {
  const NativeMethods* native;
  int id;
  std::string prefix;
};

// Writes records keyed prefix + i and reads each one back at once, while
// the other thread does the same.
DWORD WINAPI writeAndReadBack(void* argument) {
  const Writer& writer = *static_cast<Writer*>(argument);
  MarshallClient java(*writer.native);  // this thread's environment
  for (int i = 0; i < kRecordsPerThread; ++i) {
    const std::string key = writer.prefix + std::to_string(i);
    const Record values{key, std::to_string(i)};
    const int status = java.write(writer.id, values);
    if (status != 0) {
      report::fail("%s: write returned %d", key.c_str(), status);
      continue;
    }
    const int position = java.getPos(writer.id, key);
    check(position >= 0, "%s: getPos after write returned %d", key.c_str(), position);
    const std::optional<Record> back = java.getRecord(writer.id, position);
    check(back == values, "%s: read back %s", key.c_str(), describe(back).c_str());
    if (i % 10 == 0) {
      const auto found = java.find(writer.id, {false, false}, {key, ""});
      check(found == std::vector<int32_t>{position}, "%s: find returned %s", key.c_str(), describe(found).c_str());
    }
  }
  return 0;
}

void runWriters(Writer* writers, int count) {
  HANDLE threads[2];
  for (int t = 0; t < count; ++t) threads[t] = CreateThread(nullptr, 0, writeAndReadBack, &writers[t], 0, nullptr);
  for (int t = 0; t < count; ++t) check(threads[t] != nullptr, "CreateThread failed");
  WaitForMultipleObjects(static_cast<DWORD>(count), threads, TRUE, INFINITE);
  for (int t = 0; t < count; ++t) CloseHandle(threads[t]);
}

// Every key written by prefix is found once, at a position of its own.
void checkAllWritten(MarshallClient& java, int id, const std::string& prefix, std::set<int>& positions) {
  int missing = 0;
  for (int i = 0; i < kRecordsPerThread; ++i) {
    const int position = java.getPos(id, prefix + std::to_string(i));
    if (position < 0 || !positions.insert(position).second) ++missing;
  }
  check(missing == 0, "%s: %d keys missing or sharing a position", prefix.c_str(), missing);
  const auto found = java.find(id, {true, false}, {prefix, ""});
  expectInt(found ? static_cast<long>(found->size()) : -1, kRecordsPerThread, (prefix + " find by prefix").c_str());
}

int openNew(MarshallClient& java, const std::string& base) {
  removeDatabaseFiles(base);
  const int id = java.registerName(base);
  check(java.define(id, {true, false}, {"key", "n"}), "%s: define", base.c_str());
  check(java.open(id, kKey, true), "%s: open", base.c_str());
  return id;
}

void closeAndForget(MarshallClient& java, int id) {
  check(java.close(id), "close after the threads");
  check(java.unregister(id), "unregister after the threads");
}

}  // namespace

void runTwoThreads(const NativeMethods& native) {
  MarshallClient java(native);

  const int shared = openNew(java, "threads_one");
  Writer onOne[2] = {{&native, shared, "first-"}, {&native, shared, "second-"}};
  runWriters(onOne, 2);
  expectInt(java.numRecs(shared), 2 * kRecordsPerThread, "one database, two threads: numRecs");
  std::set<int> positions;
  checkAllWritten(java, shared, "first-", positions);
  checkAllWritten(java, shared, "second-", positions);
  expectInt(int32At(fileBytes("threads_one.idx"), 0), 2 * kRecordsPerThread, "one database: index file count");
  closeAndForget(java, shared);

  const int a = openNew(java, "threads_a");
  const int b = openNew(java, "threads_b");
  Writer onTwo[2] = {{&native, a, "a-"}, {&native, b, "b-"}};
  runWriters(onTwo, 2);
  for (const int id : {a, b}) expectInt(java.numRecs(id), kRecordsPerThread, "two databases: numRecs");
  std::set<int> positionsA, positionsB;
  checkAllWritten(java, a, "a-", positionsA);
  checkAllWritten(java, b, "b-", positionsB);
  expectPositions(java.find(a, {true, false}, {"b-", ""}), {}, "two databases: no records crossed over");
  closeAndForget(java, a);
  closeAndForget(java, b);
}

namespace {

struct Reader {
  const NativeMethods* native;
  int id;
  int position;
};

DWORD WINAPI readOnce(void* argument) {
  const Reader& reader = *static_cast<Reader*>(argument);
  MarshallClient java(*reader.native);
  const std::optional<Record> record = java.getRecord(reader.id, reader.position);
  check(record && record->size() == 1 && (*record)[0].size() == (1u << 20), "big record read on a new thread");
  return 0;
}

void readOnNewThread(Reader& reader) {
  HANDLE thread = CreateThread(nullptr, 0, readOnce, &reader, 0, nullptr);
  check(thread != nullptr, "CreateThread failed");
  if (thread == nullptr) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

// Committed private memory, summed over the address space: large heap
// blocks are mapped and unmapped whole, so a leak of them shows here.
size_t privateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* address = nullptr;
       VirtualQuery(address, &region, sizeof region) == sizeof region;
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

}  // namespace

// Each thread that reads a 1 MiB record keeps per-thread buffers of that
// size; they must be freed when the thread exits, or a JVM that runs calls
// on short-lived threads grows without bound.
void runThreadExit(const NativeMethods& native) {
  MarshallClient java(native);
  const std::string base = "thread_exit";
  removeDatabaseFiles(base);
  const int id = java.registerName(base);
  check(java.define(id, {false}, {"blob"}), "thread exit: define");
  check(java.open(id, kKey, false), "thread exit: open");
  expectInt(java.write(id, {std::string(1u << 20, 'x')}), 0, "thread exit: write 1 MiB");
  Reader reader{&native, id, 0};

  for (int i = 0; i < 4; ++i) readOnNewThread(reader);  // the heap settles
  const size_t before = privateBytes();
  constexpr int kThreads = 48;
  for (int i = 0; i < kThreads; ++i) readOnNewThread(reader);
  const size_t after = privateBytes();
  const size_t grown = after > before ? after - before : 0;
  check(grown < (kThreads << 20) / 4, "memory grew by %zu KiB over %d exited threads", grown >> 10, kThreads);

  java.close(id);
  java.unregister(id);
}

}  // namespace scenario
