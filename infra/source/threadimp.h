// CThreadImp: the private record of one CThread.
//
// Exit handshake: m_bRunning is set by Start and cleared by the thread's last step; a stopper
// that wants to wait sets m_bWaitExit only while m_bRunning is still set, both under
// m_exitLock, so the last step posts m_semExit exactly when someone waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "infra/semaphore.h"
#include "msgqueimp.h"

namespace infra {

class CThread;

class CThreadImp {
 public:
  CThreadImp(int priority, uint32_t stackSize) : m_nPriority(priority), m_nStackSize(stackSize) {}

  std::mutex m_exitLock;                      // leaf lock of the exit handshake
  bool m_bWaitExit = false;                   // a stopper waits on m_semExit; m_exitLock
  bool m_bRunning = false;                    // a run has started and not ended; m_exitLock
  const int m_nPriority;                      // shown, never applied
  const uint32_t m_nStackSize;                // recorded, never applied
  std::thread m_hThread;                      // last run's thread; Start and destructor only
  std::atomic<uint32_t> m_dwThreadId{0xFFFFFFFF};  // id of the last run; set by the body
  std::atomic<std::thread::id> m_runningId{};      // the thread while its body runs, else none
  mutable std::mutex m_nameLock;              // leaf lock of m_name
  std::string m_name;                         // m_nameLock
  std::unique_ptr<CMsgQueImp> m_pMsgQue;      // the thread's queue, or null
  CThread *m_prev = nullptr;                  // thread manager's list; its lock
  CThread *m_next = nullptr;                  // thread manager's list; its lock
  CSemaphore m_semStart{1};                   // held by a run from Start until its body ended
  std::atomic<uint64_t> m_dwDeadline{0};      // run deadline in GetMSCount units; 0 = none
  CSemaphore m_semExit{0};                    // posted for a waiting stopper
  std::mutex m_napLock;                       // leaf lock: a nap checks the loop flag under it
  std::condition_variable m_napWake;          // notified by Stop for a napping body
};

}  // namespace infra
