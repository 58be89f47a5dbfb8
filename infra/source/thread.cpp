// CThread: start, stop and the entry of a library thread.
#include "infra/thread.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "infra/assertion.h"
#include "infra/clock.h"
#include "faults.h"
#include "threadimp.h"

namespace infra {

CThread::CThread(const char *name, int priority, int msgQueueCapacity, uint32_t stackSize)
    : m_threadImp(std::make_unique<CThreadImp>(priority, stackSize)) {
  SetName(name);
  if (msgQueueCapacity != 0) m_threadImp->m_pMsgQue = std::make_unique<CMsgQueImp>(msgQueueCapacity);
}

CThread::~CThread() {
  Stop(true);
  Join();
}

bool CThread::Start() {
  CThreadImp &imp = *m_threadImp;
  // From its own body this would wait for itself without end.
  if (imp.m_runningId.load() == std::this_thread::get_id()) return false;
  imp.m_semStart.Pend(-1);  // the previous run's body has returned
  Join();                   // and its thread has left the thread manager
  {
    std::lock_guard<std::mutex> guard(imp.m_exitLock);
    imp.m_bRunning = true;
    imp.m_bWaitExit = false;
  }
  m_bLoop.store(true);
  bool created = false;
  if (!faults::TakeThreadCreationFailure()) {
    try {
      imp.m_hThread = std::thread(&CThread::Entry, this);
      created = true;
    } catch (const std::system_error &) {
    }
  }
  if (created) return true;
  INFRA_REPORT("m_threadImp->m_hThread");
  m_bLoop.store(false);
  {
    std::lock_guard<std::mutex> guard(imp.m_exitLock);
    imp.m_bRunning = false;
  }
  imp.m_semStart.Post();  // no run holds it, so a later Start can proceed
  return false;
}

void CThread::Entry() {
  CThreadImp &imp = *m_threadImp;
  imp.m_dwThreadId.store(GetCurrentThreadId());
  imp.m_runningId.store(std::this_thread::get_id());
  CThreadManager::Instance()->Register(this);
  ThreadProc();
  ClearMsg();
  imp.m_runningId.store(std::thread::id());
  imp.m_semStart.Post();
  CThreadManager::Instance()->Unregister(this);
  std::lock_guard<std::mutex> guard(imp.m_exitLock);
  imp.m_bRunning = false;
  if (imp.m_bWaitExit) {
    imp.m_bWaitExit = false;
    imp.m_semExit.Post();
  }
}

bool CThread::Stop(bool wait) {
  if (!m_bLoop.exchange(false)) return true;
  CThreadImp &imp = *m_threadImp;
  {
    // A nap that saw the flag still set is waiting by the time this lock is taken.
    std::lock_guard<std::mutex> napGuard(imp.m_napLock);
  }
  imp.m_napWake.notify_all();
  if (imp.m_pMsgQue) imp.m_pMsgQue->PostQuit();
  if (imp.m_runningId.load() == std::this_thread::get_id()) return true;
  bool mustWait;
  {
    std::lock_guard<std::mutex> guard(imp.m_exitLock);
    imp.m_bWaitExit = wait && imp.m_bRunning;
    mustWait = imp.m_bWaitExit;
  }
  if (mustWait) imp.m_semExit.Pend(-1);
  return true;
}

std::mutex &CThread::NapLock() { return m_threadImp->m_napLock; }

std::condition_variable &CThread::NapWake() { return m_threadImp->m_napWake; }

bool CThread::NapWhileLooping(int ms) {
  CThreadImp &imp = *m_threadImp;
  std::unique_lock<std::mutex> lock(imp.m_napLock);
  imp.m_napWake.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                         [this] { return !m_bLoop.load(); });
  return m_bLoop.load();
}

void CThread::Join() {
  std::thread &t = m_threadImp->m_hThread;
  if (!t.joinable()) return;
  if (t.get_id() == std::this_thread::get_id())
    t.detach();
  else
    t.join();
}

void CThread::SetName(const char *name) {
  std::lock_guard<std::mutex> guard(m_threadImp->m_nameLock);
  m_threadImp->m_name = name ? name : "Nonamed";
}

std::string CThread::GetName() const {
  std::lock_guard<std::mutex> guard(m_threadImp->m_nameLock);
  return m_threadImp->m_name;
}

int CThread::GetPriority() const { return m_threadImp->m_nPriority; }

uint32_t CThread::GetStackSize() const { return m_threadImp->m_nStackSize; }

void CThread::SetTimeout(uint32_t ms) {
  m_threadImp->m_dwDeadline.store(ms == 0 ? 0 : GetMSCount() + ms);
}

bool CThread::IsTimedOut() const {
  uint64_t deadline = m_threadImp->m_dwDeadline.load();
  return deadline != 0 && deadline < GetMSCount();
}

uint32_t CThread::GetThreadId() const { return m_threadImp->m_dwThreadId.load(); }

bool CThread::PostMsg(uint32_t msg, uint32_t wparam, uint32_t lparam, uint32_t priority) {
  return m_threadImp->m_pMsgQue && m_threadImp->m_pMsgQue->Post(msg, wparam, lparam, priority);
}

bool CThread::RecvMsg(tagMSG *out, bool wait) {
  return m_threadImp->m_pMsgQue && m_threadImp->m_pMsgQue->Recv(out, wait);
}

void CThread::CloseMsg() {
  if (m_threadImp->m_pMsgQue) m_threadImp->m_pMsgQue->Close();
}

void CThread::ClearMsg() {
  if (m_threadImp->m_pMsgQue) m_threadImp->m_pMsgQue->Clear();
}

int CThread::GetMsgCount() {
  return m_threadImp->m_pMsgQue ? m_threadImp->m_pMsgQue->Count() : 0;
}

}  // namespace infra
