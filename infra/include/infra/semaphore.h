// CSemaphore: the library's counting semaphore.
#pragma once

#include <atomic>
#include <semaphore>

namespace infra {

// A counting semaphore with a maximum count of 2147483647. Not copyable.
class CSemaphore {
 public:
  static constexpr int kMaxCount = 0x7FFFFFFF;

  // initialCount: units available at once, 0 to kMaxCount.
  explicit CSemaphore(int initialCount);
  CSemaphore(const CSemaphore &) = delete;
  CSemaphore &operator=(const CSemaphore &) = delete;

  // Takes one unit. timeoutMs: -1 waits without limit, 0 does not wait, a positive value
  // waits at most that many milliseconds. Returns true when a unit was taken, false when
  // the time ran out.
  bool Pend(int timeoutMs);
  // Adds one unit, waking one waiter. Returns true; false (and nothing changes) when the
  // count is already at its maximum.
  bool Post();

 private:
  std::counting_semaphore<kMaxCount> m_hSemphore;  // the system semaphore
  std::atomic<int> m_nBound;  // never below the true count: raised before a post, lowered after a take
};

}  // namespace infra
