// Timers: a callback run once after a delay, or periodically, on a pooled worker thread.
//
// One scheduler thread (CTimerManager) keeps every started timer in a list ordered by due
// time and hands each due timer to a pooled thread. It sleeps until the first timer of the
// list is due (or, with no timer started, until one is), so an idle program costs no wake-ups;
// starting a timer ahead of the first one wakes it. A timer fires at the first check whose
// counter value is past its due time (one millisecond after it). At most one run per timer is
// in progress: a run that comes due while the previous one still executes is dropped, and
// missed periods are not made up.
//
// Every timer field, the list and the scheduler's clock reading are guarded by the timer
// lock, a recursive lock taken before the pool lock and the thread manager's lock. Callbacks
// run outside it, except the one Stop(true) runs in the caller's thread. A callback may start,
// stop or restart any timer, its own included.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "infra/callback.h"
#include "infra/mutex.h"
#include "infra/thread.h"

namespace infra {

class CTimerImp;

// The library-wide timer lock. Holding it keeps the scheduler from checking, so several
// timer operations made under it see the same clock reading.
CMutex &TimerLock();

// The scheduler's time: the library's millisecond counter (GetMSCount), or a virtual clock a
// test moves by hand.
class CTimerClock {
 public:
  static constexpr uint64_t kNever = UINT64_MAX;  // no deadline: wait until woken
  virtual ~CTimerClock() = default;
  // The time in milliseconds; never decreases.
  virtual uint64_t NowMs() = 0;
  // Waits until NowMs() reaches dueMs (kNever: no limit) or `wake` is notified, with `lock`
  // released while waiting, as std::condition_variable::wait_until does; may return early.
  virtual void WaitUntil(uint64_t dueMs, std::condition_variable &wake,
                         std::unique_lock<std::mutex> &lock) = 0;
};

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

  // Schedules callback(param) delayMs after the scheduler's clock reading, then every
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
  // The scheduler's clock reading (GetMSCount units): that of its last check, taken afresh by
  // the first timer operation after the scheduler went to sleep, so every operation made under
  // one hold of the timer lock sees the same reading. Call with the timer lock held.
  uint64_t GetCurTime();
  // Replaces the scheduler's time source (null: the library's counter), wakes the scheduler and
  // returns once it no longer waits in the old clock. For tests: call it while no timer is
  // started.
  void SetClock(CTimerClock *clock);
  // Makes the scheduler check its list at once.
  void Wake();
  // Prints the timer table: the last reading, then each scheduled timer from the head with
  // its name, due time and "Running" (a run in progress) or "Idel".
  void Dump(FILE *out = stdout);

 protected:
  // Checks, then sleeps until the next timer is due or it is woken, until stopped.
  void ThreadProc() override;

 private:
  template <class T> friend class LazyInstance;
  CTimerManager();
  // One pass: reads the clock, runs every timer due. Returns the clock time of the next check
  // that can run a timer (CTimerClock::kNever when none is started).
  uint64_t Check();
  void Run(CTimerImp *t);

  CTimerClock *m_clock;            // the time source; timer lock
  uint64_t m_curTime;              // clock reading; timer lock
  bool m_bReadingOld = false;      // the scheduler slept since m_curTime was read; timer lock
  CTimerImp *m_pHead = nullptr;    // scheduled timers in ascending due time; timer lock
  bool m_bWoken = false;           // check again before sleeping; NapLock()
  CTimerClock *m_pWaitingOn = nullptr;  // the clock the scheduler waits in; NapLock()
};

}  // namespace infra
