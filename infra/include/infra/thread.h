// Threads of the runtime support library.
//
// CThread is the base of every thread the system starts: derive, write ThreadProc, Start and
// Stop. Running threads are listed by the process-wide CThreadManager, which can print them as
// a table and which keeps a pool of reusable worker threads (PooledThread) that run timer
// callbacks one at a time per PooledThreadSlot.
//
// Locks, in the order they may be taken: the timer lock (timer.h), then the pool lock
// (guards every slot's m_pThread and every pooled thread's m_pSlot), then the thread
// manager's lock (guards the list of running threads and the idle list). Each CThread also
// has two leaf locks of its own (its name; its exit handshake) under which nothing else is
// taken.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "infra/callback.h"
#include "infra/msgque.h"
#include "infra/mutex.h"
#include "infra/semaphore.h"

namespace infra {

class CThreadImp;
class CThreadManager;
class PooledThreadSlot;

// A named thread with a nominal priority, an optional message queue and a run deadline.
//
// Life: constructed → Start → running (registered with the thread manager) → Stop, or the
// body returns → finishing → finished; a finished object may be started again. At most one
// run of an object is in progress at a time.
//
// A derived class whose body uses its own members must call Stop(true) in its own destructor
// (this base class can only wait for the body after the derived part is gone). An object must
// not be destroyed from its own body.
class CThread {
 public:
  // name: shown in the thread table; null gives "Nonamed". priority: shown, never applied.
  // msgQueueCapacity: 0 = no queue, else the capacity of the thread's CMsgQue.
  // stackSize: recorded only; every thread gets the platform's default stack.
  CThread(const char *name, int priority, int msgQueueCapacity, uint32_t stackSize);
  // Stops the thread with wait and waits until its operating-system thread has ended.
  virtual ~CThread();
  CThread(const CThread &) = delete;
  CThread &operator=(const CThread &) = delete;

  // Starts a run of ThreadProc on a new operating-system thread. When the previous run is
  // still finishing, first waits until its body has returned. Returns true when the thread
  // was created; false when the system refused it (reported as "m_threadImp->m_hThread";
  // the object can be started again later) or when called from the object's own body.
  bool Start();
  // Asks the body to end: clears the loop flag and posts MSG_QUIT to its queue. wait: from
  // another thread, block until the body has returned and the thread has left the thread
  // manager; from the thread itself it never waits. Nothing happens when the loop flag is
  // already clear (never started, finished, or ending on its own). Returns true.
  bool Stop(bool wait);
  // True when the loop flag is clear.
  bool IsStopped() const { return !m_bLoop.load(); }

  // Renames the thread; null gives "Nonamed".
  void SetName(const char *name);
  // The current name.
  std::string GetName() const;
  // The nominal priority given at construction.
  int GetPriority() const;
  // The stack size given at construction.
  uint32_t GetStackSize() const;

  // Sets the run deadline to now + ms; 0 removes it.
  void SetTimeout(uint32_t ms);
  // True when a deadline is set and has passed.
  bool IsTimedOut() const;
  // The operating-system id of the thread; 0xFFFFFFFF before its first run began.
  uint32_t GetThreadId() const;

  // The CMsgQue operations on the thread's own queue. Without a queue they do nothing and
  // return false or 0.
  bool PostMsg(uint32_t msg, uint32_t wparam, uint32_t lparam, uint32_t priority);
  bool RecvMsg(tagMSG *out, bool wait);
  void CloseMsg();
  void ClearMsg();
  int GetMsgCount();

 protected:
  // The body, run on the new thread. Loop while m_bLoop is set and return when it is clear;
  // a body that ends on its own clears m_bLoop before it returns.
  virtual void ThreadProc() = 0;
  // Waits until the operating-system thread of the last run has ended; does nothing when
  // there is none or when called from that thread. For destructors of derived classes.
  void Join();
  // Sleeps up to ms milliseconds on the body's thread and wakes at once when Stop clears the
  // loop flag. Returns whether the loop flag is still set (false: the body should return).
  bool NapWhileLooping(int ms);
  // The lock and condition the body's naps wait on; Stop notifies the condition after clearing
  // the loop flag. A body with a wait of its own kind (another deadline, another wake-up) waits
  // on these and tests m_bLoop under the lock before it waits, so Stop always wakes it. A leaf
  // lock: nothing else is taken while it is held.
  std::mutex &NapLock();
  std::condition_variable &NapWake();

  std::atomic<bool> m_bLoop{false};  // set by Start, cleared by Stop or a body that ends

 private:
  friend class CThreadManager;
  void Entry();  // runs on the new thread: register, body, finish

  std::unique_ptr<CThreadImp> m_threadImp;
};

// A reusable worker: waits on its own semaphore, runs one callback per unit of work, returns
// itself to the thread manager's idle list. Created only by CThreadManager::AcquirePooled.
class PooledThread : public CThread {
 public:
  PooledThread();
  // Ends the thread: it finishes a callback it is running, then stops.
  ~PooledThread() override;

 protected:
  void ThreadProc() override;

 private:
  friend class PooledThreadSlot;
  friend class CThreadManager;

  Callback m_callback;                     // what to run next; set before m_semWork is posted
  uint32_t m_param = 0;                    // its parameter
  CSemaphore m_semWork{0};                 // one unit per piece of work
  PooledThread *m_pNextIdle = nullptr;     // idle list link; thread manager's lock
  PooledThreadSlot *m_pSlot = nullptr;     // slot whose work it runs, or null; pool lock
};

// One stream of runs on pooled threads, at most one run in progress at a time. Each timer
// owns one.
class PooledThreadSlot {
 public:
  PooledThreadSlot() = default;
  // When a run is in progress, detaches it: the callback still finishes and its thread goes
  // back to the pool without touching this slot.
  ~PooledThreadSlot();
  PooledThreadSlot(const PooledThreadSlot &) = delete;
  PooledThreadSlot &operator=(const PooledThreadSlot &) = delete;

  // Hands one run of callback(param) to an idle pooled thread (made when none is idle), named
  // name and with the run deadline timeoutMs (0 = none) while it runs. Returns false, and the
  // run is dropped, when the slot's previous run is still in progress or no thread could be
  // made.
  bool Dispatch(const char *name, Callback callback, uint32_t param, uint32_t timeoutMs);
  // True while a run is in progress.
  bool IsBusy() const { return m_pThread.load() != nullptr; }
  // Returns once no run is in progress (at once when none is). Never call it from the run
  // itself, which would wait for its own end.
  void WaitIdle() const;

 private:
  friend class PooledThread;
  std::atomic<PooledThread *> m_pThread{nullptr};  // thread running this slot's work; pool lock
};

// The process-wide registry of running library threads and the pool of worker threads.
// Created on first use (safe when several threads make the first use at once); lives until
// DeleteInstance.
class CThreadManager {
 public:
  // The instance, created on first use.
  static CThreadManager *Instance();
  // Ends every pooled thread (each finishes a callback it is running first) and deletes the
  // instance; the next Instance makes a new one. Call it only after every other library
  // thread and every timer has stopped.
  static void DeleteInstance();

  virtual ~CThreadManager();

  // Puts t at the head of the list of running threads. Returns true.
  bool Register(CThread *t);
  // Takes t out of the list (nothing happens when it is not listed). Returns true.
  bool Unregister(CThread *t);
  // True when t is listed.
  bool Contains(CThread *t);
  // An idle pooled thread (the most recently released), or a new started one when none is
  // idle; null when a new thread could not be started. The pool has no upper bound.
  PooledThread *AcquirePooled();
  // Puts t back on the idle list; a null t is reported as "pThread" and ignored.
  void ReleasePooled(PooledThread *t);
  // Records the id shown in the "Main" row of the table.
  void SetMainThreadId(uint32_t id);
  // Prints the thread table: the header, the "Main" row, then every running thread, the most
  // recently started first, with its state "Timeout" or "Normal".
  void Dump(FILE *out = stdout);

 private:
  template <class T> friend class LazyInstance;
  CThreadManager();

  CThread *m_pHead = nullptr;          // running threads, newest first; m_lock
  PooledThread *m_pIdle = nullptr;     // idle pooled threads, last in first out; m_lock
  CMutex m_lock{1};
  uint32_t m_dwMainThreadId = 0;       // m_lock
  std::vector<std::unique_ptr<PooledThread>> m_pooled;  // every pooled thread made; m_lock
};

}  // namespace infra
