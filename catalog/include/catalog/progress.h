// A progress bar for a copy of known size, on standard error.
//
//   [##############----------------]  47%  112.0/238.5 MiB  3/7 files
//
// It is drawn only when standard error is a terminal, redrawn in place at most ten times a
// second, and ended with a newline. Messages printed while it shows go through say(), which
// clears the bar's line first.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class ProgressBar {
 public:
  // A bar for total_bytes in total_files files, at 0.
  ProgressBar(uint64_t total_bytes, size_t total_files);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Ends the bar (finish).
  ~ProgressBar();

  // Counts bytes copied; redraws when the last drawing is 100 ms old.
  void add(uint64_t bytes);

  // Counts one file as done and redraws.
  void file_done();

  // Prints "krt: " and message on a line of its own, the bar's line cleared first.
  void say(const std::string& message);

  // Draws the final state and ends the bar's line. Later calls do nothing.
  void finish();

 private:
  void draw();

  const bool shown_;            // standard error is a terminal
  const uint64_t total_bytes_;  // what a full bar stands for
  const size_t total_files_;    //
  uint64_t bytes_ = 0;          // copied so far
  size_t files_ = 0;            // files done
  bool drawn_ = false;          // the bar's line holds a drawing
  bool finished_ = false;       // finish() ran
  std::chrono::steady_clock::time_point last_{};  // time of the last drawing
};
