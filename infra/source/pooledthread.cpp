// Pooled worker threads and the slots that hand them work.
//
// A pooled thread is idle (on the thread manager's idle list, blocked on m_semWork) or busy
// (running one callback for one slot). The pool lock guards the pairing of slot and thread in
// both directions, so a slot destroyed mid-run detaches itself and the thread, when its
// callback returns, goes back to the pool without touching the slot.
#include "infra/thread.h"

namespace infra {
namespace {

// The pool lock: made on first use and never destroyed, so a pooled thread may still use it
// while the process ends.
CMutex &PoolLock() {
  static CMutex &lock = *new CMutex(0);
  return lock;
}

}  // namespace

PooledThread::PooledThread() : CThread("Pooled", 64, 0, 0) {}

PooledThread::~PooledThread() {
  Stop(false);
  m_semWork.Post();  // wakes an idle body; a busy one finds the unit after its callback
  Join();
}

void PooledThread::ThreadProc() {
  while (m_bLoop.load()) {
    m_semWork.Pend(-1);
    if (!m_bLoop.load()) break;  // woken to end, not to work
    Callback callback = m_callback;
    m_callback = Callback();
    callback(m_param);
    SetName("Pooled");
    SetTimeout(0);
    {
      CGuard guard(PoolLock());
      if (m_pSlot) {
        m_pSlot->m_pThread.store(nullptr);
        m_pSlot->m_pThread.notify_all();  // the slot lives: its destructor takes the pool lock
        m_pSlot = nullptr;
      }
    }
    CThreadManager::Instance()->ReleasePooled(this);
  }
}

PooledThreadSlot::~PooledThreadSlot() {
  CGuard guard(PoolLock());
  if (PooledThread *t = m_pThread.load()) t->m_pSlot = nullptr;
}

void PooledThreadSlot::WaitIdle() const {
  while (PooledThread *t = m_pThread.load()) m_pThread.wait(t);
}

bool PooledThreadSlot::Dispatch(const char *name, Callback callback, uint32_t param,
                                uint32_t timeoutMs) {
  CGuard guard(PoolLock());
  if (m_pThread.load()) return false;
  PooledThread *t = CThreadManager::Instance()->AcquirePooled();
  if (!t) return false;
  t->SetName(name);
  t->SetTimeout(timeoutMs);
  t->m_callback = callback;
  t->m_param = param;
  t->m_pSlot = this;
  m_pThread.store(t);
  t->m_semWork.Post();
  return true;
}

}  // namespace infra
