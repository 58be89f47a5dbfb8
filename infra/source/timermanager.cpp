// CTimerManager: the scheduler thread and its list of started timers in ascending due time.
#include <algorithm>
#include <chrono>
#include <cinttypes>

#include "infra/clock.h"
#include "infra/timer.h"
#include "infra/trace.h"
#include "lazyinstance.h"
#include "timerimp.h"

namespace infra {
namespace {
LazyInstance<CTimerManager> g_timerManager;

// The library's millisecond counter, waited on in real time.
class SteadyTimerClock final : public CTimerClock {
 public:
  uint64_t NowMs() override { return GetMSCount(); }
  void WaitUntil(uint64_t dueMs, std::condition_variable &wake,
                 std::unique_lock<std::mutex> &lock) override {
    if (dueMs == kNever) {
      wake.wait(lock);
      return;
    }
    const uint64_t now = GetMSCount();
    if (dueMs > now) wake.wait_for(lock, std::chrono::milliseconds(dueMs - now));
  }
};

CTimerClock &SteadyClock() {
  static CTimerClock &clock = *new SteadyTimerClock;  // never destroyed, like the timer lock
  return clock;
}

}  // namespace

CTimerManager *CTimerManager::Instance() { return g_timerManager.Get(); }

void CTimerManager::DeleteInstance() { g_timerManager.Delete(); }

CTimerManager::CTimerManager()
    : CThread("TimerManager", 2, 0, 0), m_clock(&SteadyClock()), m_curTime(m_clock->NowMs()) {
  Trace("CTimerManager::CTimerManager()>>>>>>>>>");
}

CTimerManager::~CTimerManager() {
  Stop(true);
  Join();
  CGuard guard(TimerLock());
  while (CTimerImp *t = m_pHead) {
    Remove(t);
    t->m_bStarted.store(false);
  }
}

bool CTimerManager::Insert(CTimerImp *t) {
  CTimerImp *prev = nullptr;
  CTimerImp *next = m_pHead;
  while (next && next->m_due < t->m_due) {
    prev = next;
    next = next->m_next;
  }
  t->m_prev = prev;
  t->m_next = next;
  if (prev)
    prev->m_next = t;
  else
    m_pHead = t;
  if (next) next->m_prev = t;
  // A new first timer may be due before the scheduler means to wake; its own passes reinsert
  // periodic timers before they compute their sleep.
  if (!prev && GetThreadId() != GetCurrentThreadId()) Wake();
  return true;
}

bool CTimerManager::Remove(CTimerImp *t) {
  if (t->m_prev)
    t->m_prev->m_next = t->m_next;
  else if (m_pHead == t)
    m_pHead = t->m_next;
  else
    return true;  // not listed
  if (t->m_next) t->m_next->m_prev = t->m_prev;
  t->m_prev = nullptr;
  t->m_next = nullptr;
  return true;
}

uint64_t CTimerManager::GetCurTime() {
  CGuard guard(TimerLock());
  if (m_bReadingOld) {
    m_curTime = std::max(m_curTime, m_clock->NowMs());
    m_bReadingOld = false;
  }
  return m_curTime;
}

void CTimerManager::SetClock(CTimerClock *clock) {
  CTimerClock *old;
  {
    CGuard guard(TimerLock());
    old = m_clock;
    m_clock = clock ? clock : &SteadyClock();
    m_curTime = m_clock->NowMs();
    m_bReadingOld = false;
  }
  Wake();
  // The old clock may go once the scheduler has left its wait.
  std::unique_lock<std::mutex> lock(NapLock());
  NapWake().wait(lock, [&] { return m_pWaitingOn != old; });
}

void CTimerManager::Wake() {
  {
    std::lock_guard<std::mutex> lock(NapLock());
    m_bWoken = true;
  }
  NapWake().notify_all();
}

void CTimerManager::ThreadProc() {
  while (m_bLoop.load()) {
    const uint64_t next = Check();
    CTimerClock *clock;
    {
      CGuard guard(TimerLock());
      clock = m_clock;
    }
    // Stop and Wake change their flags under the nap lock before they notify: tested here
    // under it, neither is missed.
    std::unique_lock<std::mutex> lock(NapLock());
    if (m_bLoop.load() && !m_bWoken) {
      m_pWaitingOn = clock;
      clock->WaitUntil(next, NapWake(), lock);
      m_pWaitingOn = nullptr;
      NapWake().notify_all();  // for SetClock
    }
    m_bWoken = false;
  }
}

uint64_t CTimerManager::Check() {
  CGuard guard(TimerLock());
  const uint64_t previous = m_curTime;
  m_curTime = m_clock->NowMs();
  if (m_curTime < previous) {  // the counter went back: start every timer's period afresh
    Trace("CTimerManager::Check() MSCount Overflowed, %" PRIu64 " < %" PRIu64 " .", m_curTime, previous);
    m_curTime = 0;
    for (CTimerImp *t = m_pHead; t; t = t->m_next) t->m_due = t->m_period;
  }
  while (m_pHead && m_pHead->m_due < m_curTime) Run(m_pHead);
  m_bReadingOld = true;  // the scheduler sleeps from now on
  // A timer runs at the first check whose reading is past its due time.
  return m_pHead ? std::max(m_pHead->m_due, m_curTime) + 1 : CTimerClock::kNever;
}

void CTimerManager::Run(CTimerImp *t) {
  Remove(t);
  if (t->m_period != 0) {
    // The next due time after now, counted from the previous one: periods missed while the
    // scheduler lagged are skipped, not run late one after another.
    const uint64_t behind = m_curTime - t->m_due;
    t->m_due += (behind + t->m_period - 1) / t->m_period * t->m_period;
    Insert(t);
  } else {
    t->m_bStarted.store(false);
    t->m_bDone.store(true);
  }
  t->m_slot.Dispatch(t->m_name.c_str(), t->m_callback, t->m_param, t->m_timeout);
}

void CTimerManager::Dump(FILE *out) {
  CGuard guard(TimerLock());
  std::fprintf(out, "Timers: ( %llu Milli-Seconds Elapsed )\n",
               static_cast<unsigned long long>(m_curTime));
  std::fprintf(out, "_________________________________________\n");
  for (CTimerImp *t = m_pHead; t; t = t->m_next)
    std::fprintf(out, "%16s %11llu %s\n", t->m_name.c_str(),
                 static_cast<unsigned long long>(t->m_due), t->m_slot.IsBusy() ? "Running" : "Idel");
}

}  // namespace infra
