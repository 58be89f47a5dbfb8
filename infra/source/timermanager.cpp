// CTimerManager: the scheduler thread and its list of started timers in ascending due time.
#include <chrono>
#include <cinttypes>
#include <thread>

#include "infra/clock.h"
#include "infra/timer.h"
#include "infra/trace.h"
#include "lazyinstance.h"
#include "timerimp.h"

namespace infra {
namespace {
LazyInstance<CTimerManager> g_timerManager;
}  // namespace

CTimerManager *CTimerManager::Instance() { return g_timerManager.Get(); }

void CTimerManager::DeleteInstance() { g_timerManager.Delete(); }

CTimerManager::CTimerManager() : CThread("TimerManager", 2, 0, 0), m_curTime(GetMSCount()) {
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

void CTimerManager::ThreadProc() {
  while (m_bLoop.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Check();
  }
}

void CTimerManager::Check() {
  CGuard guard(TimerLock());
  const uint64_t previous = m_curTime;
  m_curTime = GetMSCount();
  if (m_curTime == previous) return;
  if (m_curTime < previous) {  // the counter went back: start every timer's period afresh
    Trace("CTimerManager::Check() MSCount Overflowed, %" PRIu64 " < %" PRIu64 " .", m_curTime, previous);
    m_curTime = 0;
    for (CTimerImp *t = m_pHead; t; t = t->m_next) t->m_due = t->m_period;
  }
  while (m_pHead && m_pHead->m_due < m_curTime) Run(m_pHead);
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
