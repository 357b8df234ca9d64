#include "platform/write_faults.h"

#ifdef MERO_WRITE_FAULTS

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mero::writeFaults {

namespace {
std::atomic<long> counted{0};
std::atomic<long> target{0};
std::atomic<int> armedAction{static_cast<int>(Action::none)};
std::atomic<bool> environmentRead{false};

void readEnvironmentOnce() {
  if (environmentRead.exchange(true)) return;
  const char* spec = std::getenv("MERO_WRITE_FAULT");
  if (spec == nullptr) return;
  const char* colon = std::strchr(spec, ':');
  if (colon == nullptr) return;
  const long k = std::atol(colon + 1);
  if (std::strncmp(spec, "fail", 4) == 0) arm(k, Action::fail);
  if (std::strncmp(spec, "abort", 5) == 0) arm(k, Action::abort);
}
}  // namespace

void arm(long writeNumber, Action action) {
  environmentRead = true;
  counted = 0;
  target = writeNumber;
  armedAction = static_cast<int>(action);
}

void disarm() { arm(0, Action::none); }

long writesSoFar() { return counted.load(); }

bool beforeWrite() {
  readEnvironmentOnce();
  const long n = ++counted;
  const auto action = static_cast<Action>(armedAction.load());
  if (action == Action::none || n != target.load()) return true;
  if (action == Action::abort) {
    std::fflush(nullptr);
    std::_Exit(86);
  }
  return false;
}

}  // namespace mero::writeFaults

#endif
