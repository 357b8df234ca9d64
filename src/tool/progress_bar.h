#pragma once
// A progress bar on stderr for long commands, drawn only when stderr is a
// terminal (never into a log or a pipe) and not turned off with --quiet.
// Anything else printed while a bar is drawn clears it first (clearActive),
// so a message never shares the bar's line.

#include <chrono>
#include <cstdint>
#include <string>

namespace mero::tool {

class ProgressBar {
 public:
  ProgressBar(std::string label, uint64_t total, bool quiet);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Cheap enough to call per record: it redraws at most a few times a second.
  void update(uint64_t done) {
    if (enabled_ && (done & 0xFFF) == 0) redraw(done);
  }
  void finish();
  // Clears the bar that is drawn, if any; it comes back at its next redraw.
  static void clearActive();

 private:
  void redraw(uint64_t done);

  std::string label_;
  uint64_t total_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace mero::tool
