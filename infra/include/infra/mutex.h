// CMutex and CGuard: the library's lock and its scope guard.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace infra {

// A recursive mutex: the thread that holds it may enter it again and must leave it as often
// as it entered. Not copyable.
class CMutex {
 public:
  // kind: 0 or 1. Both give the same recursive mutex; the number only records the role (the
  // timer lock and each thread manager's lock are kind 1, all others kind 0).
  explicit CMutex(int kind = 0);
  ~CMutex();
  CMutex(const CMutex &) = delete;
  CMutex &operator=(const CMutex &) = delete;

  // Acquires the mutex, waiting without limit. Returns true.
  bool Enter();
  // Leaves the mutex once. Returns true; false (and nothing changes) when the calling thread
  // does not hold it.
  bool Leave();

  // The kind given at construction.
  int GetKind() const { return m_nKind; }

 private:
  std::recursive_mutex m_hMutex;            // the system mutex
  std::atomic<std::thread::id> m_owner{};   // holder, or no thread; written by the holder only
  int m_nDepth = 0;                         // entries of the holder; holder only
  const int m_nKind;                        // 0 or 1, informational
};

// Enters a CMutex on construction and leaves it on destruction.
class CGuard {
 public:
  explicit CGuard(CMutex &mutex) : m_mutex(mutex) { m_mutex.Enter(); }
  ~CGuard() { m_mutex.Leave(); }
  CGuard(const CGuard &) = delete;
  CGuard &operator=(const CGuard &) = delete;

 private:
  CMutex &m_mutex;
};

}  // namespace infra
