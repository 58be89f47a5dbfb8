// The millisecond and microsecond counters and the thread id.
//
// Both counters measure the steady clock from one instant taken while the library is loaded
// (static initialisation), so they start near zero and never go back.
#include "infra/clock.h"

#include <unistd.h>

#include <chrono>

namespace infra {
namespace {

using Clock = std::chrono::steady_clock;

// The load instant; a function so a counter read during another unit's static
// initialisation still finds it set.
const Clock::time_point &LoadTime() {
  static const Clock::time_point t = Clock::now();
  return t;
}

// Takes the load instant while the library is loaded, not at its first use.
[[maybe_unused]] const Clock::time_point &g_loadTime = LoadTime();

}  // namespace

uint64_t GetUSCount() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - LoadTime()).count());
}

uint64_t GetMSCount() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - LoadTime()).count());
}

uint32_t GetCurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(gettid());
  return id;
}

}  // namespace infra
