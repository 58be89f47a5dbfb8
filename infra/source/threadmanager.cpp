// CThreadManager: the list of running library threads, the idle list of pooled threads and
// the thread table.
#include <utility>

#include "infra/assertion.h"
#include "infra/thread.h"
#include "lazyinstance.h"
#include "threadimp.h"

namespace infra {
namespace {
LazyInstance<CThreadManager> g_threadManager;
}  // namespace

CThreadManager *CThreadManager::Instance() { return g_threadManager.Get(); }

void CThreadManager::DeleteInstance() { g_threadManager.Delete(); }

CThreadManager::CThreadManager() = default;

CThreadManager::~CThreadManager() {
  std::vector<std::unique_ptr<PooledThread>> pooled;
  {
    CGuard guard(m_lock);
    pooled.swap(m_pooled);
    m_pIdle = nullptr;
  }
  // Outside the lock: a busy thread still releases itself and unregisters before it ends.
  pooled.clear();
}

bool CThreadManager::Register(CThread *t) {
  CGuard guard(m_lock);
  CThreadImp &imp = *t->m_threadImp;
  imp.m_prev = nullptr;
  imp.m_next = m_pHead;
  if (m_pHead) m_pHead->m_threadImp->m_prev = t;
  m_pHead = t;
  return true;
}

bool CThreadManager::Unregister(CThread *t) {
  CGuard guard(m_lock);
  CThreadImp &imp = *t->m_threadImp;
  if (imp.m_prev)
    imp.m_prev->m_threadImp->m_next = imp.m_next;
  else if (m_pHead == t)
    m_pHead = imp.m_next;
  else
    return true;  // not listed
  if (imp.m_next) imp.m_next->m_threadImp->m_prev = imp.m_prev;
  imp.m_prev = nullptr;
  imp.m_next = nullptr;
  return true;
}

bool CThreadManager::Contains(CThread *t) {
  CGuard guard(m_lock);
  for (CThread *p = m_pHead; p; p = p->m_threadImp->m_next)
    if (p == t) return true;
  return false;
}

PooledThread *CThreadManager::AcquirePooled() {
  CGuard guard(m_lock);
  if (PooledThread *t = m_pIdle) {
    m_pIdle = t->m_pNextIdle;
    t->m_pNextIdle = nullptr;
    return t;
  }
  auto t = std::make_unique<PooledThread>();
  if (!t->Start()) return nullptr;
  m_pooled.push_back(std::move(t));
  return m_pooled.back().get();
}

void CThreadManager::ReleasePooled(PooledThread *t) {
  if (!t) {
    INFRA_REPORT("pThread");
    return;
  }
  CGuard guard(m_lock);
  t->m_pNextIdle = m_pIdle;
  m_pIdle = t;
}

void CThreadManager::SetMainThreadId(uint32_t id) {
  CGuard guard(m_lock);
  m_dwMainThreadId = id;
}

void CThreadManager::Dump(FILE *out) {
  static const char kRow[] = "%24s   %8d  %3d  %s\n";
  CGuard guard(m_lock);
  std::fprintf(out, "Threads:\n");
  std::fprintf(out, "               Name            PID  Prior State\n");
  std::fprintf(out, "_______________________________________________________\n");
  std::fprintf(out, kRow, "Main", static_cast<int>(m_dwMainThreadId), 64, "Normal");
  for (CThread *t = m_pHead; t; t = t->m_threadImp->m_next)
    std::fprintf(out, kRow, t->GetName().c_str(), static_cast<int>(t->GetThreadId()),
                 t->GetPriority(), t->IsTimedOut() ? "Timeout" : "Normal");
}

}  // namespace infra
