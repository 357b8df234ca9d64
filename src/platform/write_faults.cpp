#include "platform/write_faults.h"

#ifdef MERO_WRITE_FAULTS

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace mero::writeFaults {

namespace {
std::atomic<long> counted{0};
std::atomic<long> target{0};
std::atomic<int> armedAction{static_cast<int>(Action::none)};
std::atomic<bool> environmentRead{false};

void readEnvironmentOnce() {
  if (environmentRead.exchange(true)) return;
  const char* setting = std::getenv("MERO_WRITE_FAULT");
  if (setting == nullptr) return;
  const char* colon = std::strchr(setting, ':');
  if (colon == nullptr) return;
  const long k = std::atol(colon + 1);
  const std::string name(setting, colon);
  if (name == "fail") arm(k, Action::fail);
  if (name == "partial") arm(k, Action::partial);
  if (name == "abort") arm(k, Action::abort);
  if (name == "tear") arm(k, Action::tear);
}
}  // namespace

namespace {
std::atomic<bool> noLocks{false};
}

void setLocksUnsupported(bool unsupported) { noLocks = unsupported; }
bool locksUnsupported() { return noLocks.load(); }

void arm(long writeNumber, Action action) {
  environmentRead = true;
  counted = 0;
  target = writeNumber;
  armedAction = static_cast<int>(action);
}

void disarm() { arm(0, Action::none); }

long writesSoFar() { return counted.load(); }

void endProcess() {
  std::fflush(nullptr);
  std::_Exit(kExitStatus);
}

Decision beforeWrite(int64_t offset, size_t n) {
  readEnvironmentOnce();
  const long k = ++counted;
  const auto action = static_cast<Action>(armedAction.load());
  if (action == Action::none || k != target.load()) return {n, false, false};
  switch (action) {
    case Action::fail:
      return {0, true, false};
    case Action::partial:
      return {n / 2, true, false};
    case Action::abort:
      return {0, false, true};
    case Action::tear: {
      constexpr int64_t kPage = 4096;
      if (offset < 0) return {0, false, true};
      const int64_t lastBoundary = (offset + static_cast<int64_t>(n) - 1) / kPage * kPage;
      return {lastBoundary > offset ? static_cast<size_t>(lastBoundary - offset) : 0, false, true};
    }
    case Action::none:
      break;
  }
  return {n, false, false};
}

}  // namespace mero::writeFaults

#endif
