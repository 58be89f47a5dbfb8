// Timers: a callback run once after a delay, or periodically, on a pooled worker thread.
//
// One scheduler thread (CTimerManager) keeps every started timer in a list ordered by due
// time, checks it about once a millisecond and hands each due timer to a pooled thread. A
// timer fires at the first check whose counter value is past its due time. At most one run
// per timer is in progress: a run that comes due while the previous one still executes is
// dropped, and missed periods are not made up.
//
// Every timer field, the list and the scheduler's clock reading are guarded by the timer
// lock, a recursive lock taken before the pool lock and the thread manager's lock. Callbacks
// run outside it, except the one Stop(true) runs in the caller's thread. A callback may start,
// stop or restart any timer, its own included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "infra/callback.h"
#include "infra/mutex.h"
#include "infra/thread.h"

namespace infra {

class CTimerImp;

// The library-wide timer lock. Holding it keeps the scheduler from checking, so several
// timer operations made under it see the same clock reading.
CMutex &TimerLock();

// A timer handle; owners keep one per timer.
class CTimer {
 public:
  // name: as SetName.
  explicit CTimer(const char *name);
  // Takes the timer out of the schedule. A callback that is running still finishes on its
  // pooled thread; nothing touches this timer afterwards.
  virtual ~CTimer();
  CTimer(const CTimer &) = delete;
  CTimer &operator=(const CTimer &) = delete;

  // Schedules callback(param) delayMs after the scheduler's last clock reading, then every
  // periodMs (0 = once). timeoutMs: the run deadline the pooled thread shows while it runs
  // the callback (0 = none). A started timer is rescheduled.
  void Start(Callback callback, uint32_t delayMs, uint32_t periodMs, uint32_t param,
             uint32_t timeoutMs);
  // Takes a started timer out of the schedule; nothing happens when it is not started.
  // callNow on a one-shot timer first runs its callback in the calling thread, with the timer
  // lock held; on a periodic timer it has no effect.
  void Stop(bool callNow);
  // True while the timer is scheduled.
  bool IsStarted() const;
  // True when a one-shot timer has fired (been handed to a pooled thread) since its last
  // Start.
  bool IsDone() const;
  // True while a run of the callback is in progress on a pooled thread. An owner that stops
  // its timer waits for this to turn false before it frees what the callback uses
  // (StopAndWait does both).
  bool IsRunning() const;
  // Stop(false), then returns once no run of the callback is in progress, so the owner may
  // free what the callback uses. Never call it from the timer's own callback.
  void StopAndWait();
  // The name shown in the timer table and given to the pooled thread running the callback.
  std::string GetName() const;
  // Renames the timer; "NoName" gives "PID:" and the calling thread's id; null gives "".
  void SetName(const char *name);

 private:
  std::unique_ptr<CTimerImp> m_timerImp;
};

// The scheduler thread ("TimerManager", priority 2). Created on first use, started by
// CInfra::start.
class CTimerManager : public CThread {
 public:
  // The instance, created on first use (safe against a concurrent first use).
  static CTimerManager *Instance();
  // Stops the scheduler with wait, unschedules every timer and deletes the instance; the
  // next Instance makes a new one.
  static void DeleteInstance();

  ~CTimerManager() override;

  // Links t into the list before the first timer whose due time is equal or later, so among
  // equal due times the one inserted last fires first. Call with the timer lock held.
  bool Insert(CTimerImp *t);
  // Unlinks t. Call with the timer lock held.
  bool Remove(CTimerImp *t);
  // The scheduler's last clock reading (GetMSCount units). Call with the timer lock held.
  uint64_t GetCurTime() const { return m_curTime; }
  // Prints the timer table: the last reading, then each scheduled timer from the head with
  // its name, due time and "Running" (a run in progress) or "Idel".
  void Dump(FILE *out = stdout);

 protected:
  // Sleeps 1 ms, checks, until stopped.
  void ThreadProc() override;

 private:
  template <class T> friend class LazyInstance;
  CTimerManager();
  void Check();          // one pass: read the clock, run every timer due
  void Run(CTimerImp *t);

  uint64_t m_curTime;              // last clock reading; timer lock
  CTimerImp *m_pHead = nullptr;    // scheduled timers in ascending due time; timer lock
};

}  // namespace infra
