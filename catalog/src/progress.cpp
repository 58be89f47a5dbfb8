#include "catalog/progress.h"

#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kBarWidth = 30;                             // characters between the brackets
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace

ProgressBar::ProgressBar(uint64_t total_bytes, size_t total_files)
    : shown_(::isatty(STDERR_FILENO) == 1), total_bytes_(total_bytes), total_files_(total_files) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::add(uint64_t bytes) {
  bytes_ += bytes;
  if (shown_ && std::chrono::steady_clock::now() - last_ >= kRedrawEvery) draw();
}

void ProgressBar::file_done() {
  ++files_;
  if (shown_) draw();
}

void ProgressBar::say(const std::string& message) {
  if (shown_ && drawn_) std::fprintf(stderr, "\r\033[K");
  drawn_ = false;
  std::fprintf(stderr, "krt: %s\n", message.c_str());
}

void ProgressBar::finish() {
  if (finished_) return;
  finished_ = true;
  if (!shown_) return;
  draw();
  std::fprintf(stderr, "\n");
}

void ProgressBar::draw() {
  last_ = std::chrono::steady_clock::now();
  const double done = total_bytes_ == 0 ? 1.0 : double(bytes_ > total_bytes_ ? total_bytes_ : bytes_) / double(total_bytes_);
  const int filled = int(done * kBarWidth);
  std::fprintf(stderr, "\r[%s%s] %3d%%  %.1f/%.1f MiB  %zu/%zu files\033[K", std::string(size_t(filled), '#').c_str(),
               std::string(size_t(kBarWidth - filled), '-').c_str(), int(done * 100), double(bytes_) / kMiB,
               double(total_bytes_) / kMiB, files_, total_files_);
  std::fflush(stderr);
  drawn_ = true;
}
