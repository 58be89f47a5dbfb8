// The library's clock: the system clock by default, or a manual one.
#include "krt/clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

#include "krt/lock.h"
#include "krt/packed_time.h"

namespace krt {
namespace {

// The manual clock. Its wall clock is wall_seconds at tick wall_tick_ms and moves on with the
// tick count. All protected by library_lock().
struct ManualClock {
  bool in_use = false;
  uint64_t tick_ms = 0;       // the tick count
  int32_t wall_seconds = 0;   // wall clock (seconds since 2000) at wall_tick_ms
  uint64_t wall_tick_ms = 0;  // tick count at which the wall clock was set
};
ManualClock g_manual;

uint64_t system_ms() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

uint32_t system_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return pack_time(TimeFields{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec});
}

}  // namespace

uint64_t clock_ms() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_manual.in_use ? g_manual.tick_ms : system_ms();
}

uint32_t tick_count() { return uint32_t(clock_ms()); }

uint32_t clock_now() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!g_manual.in_use) return system_now();
  const uint64_t elapsed_s = (g_manual.tick_ms - g_manual.wall_tick_ms) / 1000;
  const int64_t s = int64_t(g_manual.wall_seconds) + int64_t(elapsed_s);
  return seconds_to_time(int32_t(s > kLastPackedSecond ? kLastPackedSecond : s));
}

uint32_t time_now() { return clock_now(); }

void use_manual_clock(uint32_t now, uint64_t tick_ms) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_manual = ManualClock{true, tick_ms, time_to_seconds(now), tick_ms};
}

void advance_clock(uint64_t ms) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (g_manual.in_use) g_manual.tick_ms += ms;
}

void set_clock_time(uint32_t now) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!g_manual.in_use) return;
  g_manual.wall_seconds = time_to_seconds(now);
  g_manual.wall_tick_ms = g_manual.tick_ms;
}

void use_system_clock() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_manual = ManualClock{};
}

bool manual_clock_in_use() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_manual.in_use;
}

}  // namespace krt
