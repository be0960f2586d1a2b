// A one-line progress bar on stderr for long builds. It draws only when
// stderr is a terminal, and only once the work has run for half a second,
// so short builds and redirected output stay quiet.
#pragma once
#include <stdint.h>

#include <atomic>
#include <chrono>
#include <string>

namespace pakwiz {

class ProgressBar {
public:
  ProgressBar(const std::string& label, uint64_t total, bool enabled);
  ~ProgressBar();
  // Thread-safe.
  void advance(uint64_t amount) { done_ += amount; }
  // Redraws when due; call from one thread.
  void draw();
  // Removes the line.
  void finish();

private:
  std::string label_;
  uint64_t total_;
  bool enabled_, drawn_ = false;
  std::atomic<uint64_t> done_{0};
  std::chrono::steady_clock::time_point start_;
};

} // namespace pakwiz
