// CSemaphore over the standard counting semaphore. The standard one leaves a post beyond the
// maximum undefined, so a bound that is never below the true count refuses such a post.
#include "infra/semaphore.h"

#include <algorithm>
#include <chrono>

namespace infra {

CSemaphore::CSemaphore(int initialCount)
    : m_hSemphore(std::clamp(initialCount, 0, kMaxCount)),
      m_nBound(std::clamp(initialCount, 0, kMaxCount)) {}

bool CSemaphore::Pend(int timeoutMs) {
  bool taken;
  if (timeoutMs < 0) {
    m_hSemphore.acquire();
    taken = true;
  } else if (timeoutMs == 0) {
    taken = m_hSemphore.try_acquire();
  } else {
    taken = m_hSemphore.try_acquire_for(std::chrono::milliseconds(timeoutMs));
  }
  if (taken) m_nBound.fetch_sub(1);
  return taken;
}

bool CSemaphore::Post() {
  int bound = m_nBound.load();
  do {
    if (bound >= kMaxCount) return false;
  } while (!m_nBound.compare_exchange_weak(bound, bound + 1));
  m_hSemphore.release();
  return true;
}

}  // namespace infra
