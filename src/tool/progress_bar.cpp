#include "tool/progress_bar.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define MERO_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define MERO_ISATTY(fd) isatty(fd)
#endif

namespace mero::tool {

namespace {
ProgressBar* active = nullptr;  // the bar on the terminal, if one is drawn
}  // namespace

ProgressBar::ProgressBar(std::string label, uint64_t total, bool quiet)
    : label_(std::move(label)), total_(total), enabled_(!quiet && MERO_ISATTY(2) != 0) {}

ProgressBar::~ProgressBar() {
  finish();
  if (active == this) active = nullptr;
}

void ProgressBar::clearActive() {
  if (active != nullptr) active->finish();
}

void ProgressBar::redraw(uint64_t done) {
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastDraw_ = now;
  drawn_ = true;
  active = this;
  if (total_ == 0) {  // an input of unknown length: a count only
    std::fprintf(stderr, "\r%s %llu", label_.c_str(), static_cast<unsigned long long>(done));
    std::fflush(stderr);
    return;
  }
  constexpr int kWidth = 40;
  const double share = total_ == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
  const int filled = static_cast<int>(share * kWidth);
  std::fprintf(stderr, "\r%s [%-*.*s] %3d%%", label_.c_str(), kWidth, filled,
               "########################################", static_cast<int>(share * 100));
  std::fflush(stderr);
}

void ProgressBar::finish() {
  if (!drawn_) return;
  drawn_ = false;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 48, "");
  std::fflush(stderr);
}

}  // namespace mero::tool
