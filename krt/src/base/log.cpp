// The file-system log: warnings and errors with a time prefix at the start of each line.
#include "krt/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "krt/clock.h"
#include "krt/lock.h"
#include "krt/packed_time.h"

namespace krt {
namespace {

LevelledMutex g_log_mutex{LockLevel::kLog};  // guards the two words below; taken last
std::FILE* g_log_stream = nullptr;   // null = standard output
bool g_line_start = true;            // the next message starts a new line
std::atomic<bool> g_verbose{false};  // trace and info lines on

int log_line(const char* level, const char* fmt, va_list args) {
  char line[kLogLineBytes];
  const int full = std::vsnprintf(line, sizeof line, fmt, args);
  int length = full < 0 ? 0 : (full < kLogLineBytes ? full : kLogLineBytes - 1);
  if (full >= kLogLineBytes) line[length - 1] = '\n';  // a cut message ends its line

  // The clock takes library_lock(): read it before the log mutex, which stays a leaf.
  const TimeFields now = unpack_time(time_now());
  std::lock_guard<LevelledMutex> hold(g_log_mutex);
  std::FILE* out = g_log_stream ? g_log_stream : stdout;
  int written = 0;
  if (g_line_start) {
    written += std::fprintf(out, "%04d-%02d-%02d %02d:%02d:%02d|%s", now.year, now.month, now.day,
                            now.hour, now.minute, now.second, level);
  }
  written += int(std::fwrite(line, 1, size_t(length), out));
  std::fflush(out);
  g_line_start = length > 0 && line[length - 1] == '\n';
  return written;
}

}  // namespace

int log_warn(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = log_line("FSWarn ", fmt, args);
  va_end(args);
  return n;
}

int log_error(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = log_line("FSError ", fmt, args);
  va_end(args);
  return n;
}

int log_trace_line(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = log_line("FSTrace ", fmt, args);
  va_end(args);
  return n;
}

int log_info_line(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = log_line("FSInfo ", fmt, args);
  va_end(args);
  return n;
}

void set_log_verbose(bool on) { g_verbose = on; }

bool log_verbose() { return g_verbose; }

bool set_log_verbose_from_environment() {
  const char* level = std::getenv("VENDREL_LOG");
  if (level && (std::strcmp(level, "trace") == 0 || std::strcmp(level, "info") == 0)) set_log_verbose(true);
  return log_verbose();
}

std::FILE* log_stream() {
  std::lock_guard<LevelledMutex> hold(g_log_mutex);
  return g_log_stream ? g_log_stream : stdout;
}

void set_log_stream(std::FILE* stream) {
  std::lock_guard<LevelledMutex> hold(g_log_mutex);
  g_log_stream = stream;
}

void reset_log_line() {
  std::lock_guard<LevelledMutex> hold(g_log_mutex);
  g_line_start = true;
}

}  // namespace krt
