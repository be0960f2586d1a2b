#include "builder/progress.h"

#include <cstdio>

namespace pakwiz {

ProgressBar::ProgressBar(const std::string& label, uint64_t total, bool enabled)
    : label_(label), total_(total ? total : 1), enabled_(enabled),
      start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
  finish();
}

void ProgressBar::draw() {
  if (!enabled_) return;
  if (!drawn_ && std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) return;
  uint64_t done = done_ < total_ ? done_.load() : total_;
  const int width = 30;
  int filled = (int)(done * width / total_);
  char bar[width + 1];
  for (int i = 0; i < width; i++) bar[i] = i < filled ? '#' : '.';
  bar[width] = 0;
  fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar, (int)(done * 100 / total_));
  fflush(stderr);
  drawn_ = true;
}

void ProgressBar::finish() {
  if (!drawn_) return;
  fprintf(stderr, "\r%*s\r", (int)label_.size() + 40, "");
  fflush(stderr);
  drawn_ = false;
}

} // namespace pakwiz
