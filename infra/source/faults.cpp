// Fault injection counters for the library's tests.
#include "faults.h"

#include <atomic>

namespace infra::faults {
namespace {
std::atomic<int> g_threadCreationFailures{0};
}  // namespace

void FailThreadCreations(int count) { g_threadCreationFailures.store(count); }

bool TakeThreadCreationFailure() {
  int n = g_threadCreationFailures.load();
  while (n > 0) {
    if (g_threadCreationFailures.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

}  // namespace infra::faults
