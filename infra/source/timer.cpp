// CTimer: the handle owners keep; every operation runs under the timer lock.
#include <string>

#include "infra/clock.h"
#include "infra/timer.h"
#include "timerimp.h"

namespace infra {

CMutex &TimerLock() {
  // Never destroyed: the scheduler may still take it while the process ends.
  static CMutex &lock = *new CMutex(1);
  return lock;
}

CTimer::CTimer(const char *name) : m_timerImp(std::make_unique<CTimerImp>()) { SetName(name); }

CTimer::~CTimer() {
  {
    CGuard guard(TimerLock());
    if (m_timerImp->m_bStarted.load()) {
      CTimerManager::Instance()->Remove(m_timerImp.get());
      m_timerImp->m_bStarted.store(false);
    }
  }
  m_timerImp.reset();  // the slot detaches a run in progress under the pool lock
}

void CTimer::Start(Callback callback, uint32_t delayMs, uint32_t periodMs, uint32_t param,
                   uint32_t timeoutMs) {
  CGuard guard(TimerLock());
  CTimerManager *manager = CTimerManager::Instance();
  CTimerImp &t = *m_timerImp;
  t.m_callback = callback;
  t.m_due = manager->GetCurTime() + delayMs;
  t.m_period = periodMs;
  t.m_timeout = timeoutMs;
  t.m_param = param;
  t.m_bDone.store(false);
  if (t.m_bStarted.load()) manager->Remove(&t);
  manager->Insert(&t);
  t.m_bStarted.store(true);
}

void CTimer::Stop(bool callNow) {
  CGuard guard(TimerLock());
  CTimerImp &t = *m_timerImp;
  if (!t.m_bStarted.load()) return;
  CTimerManager::Instance()->Remove(&t);
  t.m_bStarted.store(false);
  // Unscheduled before the call, so the callback may restart, stop or even delete this timer.
  if (callNow && t.m_period == 0) {
    Callback callback = t.m_callback;
    callback(t.m_param);
  }
}

bool CTimer::IsStarted() const { return m_timerImp->m_bStarted.load(); }

bool CTimer::IsDone() const { return m_timerImp->m_bDone.load(); }

bool CTimer::IsRunning() const { return m_timerImp->m_slot.IsBusy(); }

void CTimer::StopAndWait() {
  Stop(false);
  m_timerImp->m_slot.WaitIdle();
}

std::string CTimer::GetName() const {
  CGuard guard(TimerLock());
  return m_timerImp->m_name;
}

void CTimer::SetName(const char *name) {
  std::string value = name ? name : "";
  if (value == "NoName") value = "PID:" + std::to_string(static_cast<int>(GetCurrentThreadId()));
  CGuard guard(TimerLock());
  m_timerImp->m_name = std::move(value);
}

}  // namespace infra
