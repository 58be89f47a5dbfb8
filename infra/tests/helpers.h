// Shared helpers of the runtime support library's tests.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "infra/assertion.h"
#include "infra/semaphore.h"

namespace infra::test {

// Polls pred until it holds or timeoutMs passed; returns its last value. The generous limit
// only bounds a failing test; a passing one returns as soon as pred holds.
inline bool WaitFor(const std::function<bool()> &pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// A gate a thread waits at until the test opens it (once per Open).
class Gate {
 public:
  // Waits until opened; false when the test never opened it within 5 s.
  bool Pass() { return m_sem.Pend(5000); }
  void Open() { m_sem.Post(); }

 private:
  CSemaphore m_sem{0};
};

// What write(out) printed, split into lines without their newlines.
inline std::vector<std::string> PrintedLines(const std::function<void(FILE *)> &write) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  write(out);
  std::fclose(out);
  std::vector<std::string> lines;
  std::string text(buffer, size);
  std::free(buffer);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// printf into a string.
template <class... Args>
std::string Format(const char *format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// Collects assertion reports while it lives.
class ReportCatcher {
 public:
  struct Report {
    std::string expr, file;
  };
  ReportCatcher() : m_previous(SetAssertionHandler(&Catch)) { Reports().clear(); }
  ~ReportCatcher() { SetAssertionHandler(m_previous); }
  static std::vector<Report> &Reports() {
    static std::vector<Report> reports;
    return reports;
  }

 private:
  static void Catch(const char *expr, const char *file, int) { Reports().push_back({expr, file}); }
  AssertionHandler m_previous;
};

}  // namespace infra::test
