#include "test_report.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace report {

namespace {
std::atomic<long> passed{0};
std::atomic<long> failed{0};

// Guards the output and the captured list; initialised before main runs.
struct OutputLock {
  CRITICAL_SECTION section;
  OutputLock() { InitializeCriticalSection(&section); }
} outputLock;

bool capturing = false;
std::vector<std::string> captured;

void recordFailure(const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  EnterCriticalSection(&outputLock.section);
  if (capturing) {
    captured.emplace_back(text);
  } else {
    ++failed;
    std::printf("FAIL: %s\n", text);
    std::fflush(stdout);
  }
  LeaveCriticalSection(&outputLock.section);
}
}  // namespace

void check(bool ok, const char* format, ...) {
  if (ok) {
    ++passed;
    return;
  }
  va_list args;
  va_start(args, format);
  recordFailure(format, args);
  va_end(args);
}

void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  recordFailure(format, args);
  va_end(args);
}

long summary(const char* label) {
  EnterCriticalSection(&outputLock.section);
  std::printf("%s%ld passed, %ld failed\n", label, passed.load(), failed.load());
  std::fflush(stdout);
  LeaveCriticalSection(&outputLock.section);
  return failed.load();
}

void startCapture() {
  EnterCriticalSection(&outputLock.section);
  capturing = true;
  captured.clear();
  LeaveCriticalSection(&outputLock.section);
}

std::vector<std::string> stopCapture() {
  EnterCriticalSection(&outputLock.section);
  capturing = false;
  std::vector<std::string> result;
  result.swap(captured);
  LeaveCriticalSection(&outputLock.section);
  return result;
}

}  // namespace report
