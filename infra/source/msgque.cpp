// CMsgQue and its state record CMsgQueImp.
#include "infra/msgque.h"

#include <memory>

#include "infra/assertion.h"
#include "infra/clock.h"
#include "msgqueimp.h"

namespace infra {

CMsgQueImp::CMsgQueImp(int capacity) : m_nMaxMsg(capacity) {}

void CMsgQueImp::Append(uint32_t msg, uint32_t wparam, uint32_t lparam) {
  m_list.push_front(tagMSG{msg, wparam, lparam, static_cast<uint32_t>(GetMSCount())});
  ++m_nMsg;
  m_semMsg.Post();
}

bool CMsgQueImp::Post(uint32_t msg, uint32_t wparam, uint32_t lparam, uint32_t priority) {
  CGuard guard(m_lock);
  if (m_nMsg >= m_nMaxMsg || priority >= kMsgPriorityLimit || !m_bEnabled) return false;
  Append(msg, wparam, lparam);
  return true;
}

void CMsgQueImp::PostQuit() {
  CGuard guard(m_lock);
  Append(MSG_QUIT, 0, 0);
}

void CMsgQueImp::TakeOldest(tagMSG *out) {
  *out = m_list.back();
  m_list.pop_back();
  --m_nMsg;
}

bool CMsgQueImp::Recv(tagMSG *out, bool wait) {
  if (wait) m_semMsg.Pend(-1);  // outside the lock: the unit names a message for this receiver
  CGuard guard(m_lock);
  if (m_list.empty()) return false;  // ClearMsg dropped it in between
  // Without wait, a unit is taken only when one is left over; all units may belong to
  // receivers on their way to the lock, and their messages are theirs.
  if (!wait && !m_semMsg.Pend(0)) return false;
  if (m_nMsg == 0) {
    INFRA_REPORT("m_nMsg");
    return false;
  }
  TakeOldest(out);
  return true;
}

void CMsgQueImp::Clear() {
  CGuard guard(m_lock);
  tagMSG dropped;
  // Only messages with a unit left over: a woken receiver still gets the one it was woken for.
  for (int n = m_nMsg; n > 0 && m_semMsg.Pend(0); --n) TakeOldest(&dropped);
}

void CMsgQueImp::Close() {
  CGuard guard(m_lock);
  m_bEnabled = false;
}

int CMsgQueImp::Count() {
  CGuard guard(m_lock);
  return m_nMsg;
}

int CMsgQueImp::Capacity() {
  CGuard guard(m_lock);
  return m_nMaxMsg;
}

void CMsgQueImp::SetCapacity(int capacity) {
  CGuard guard(m_lock);
  m_nMaxMsg = capacity;
}

CMsgQue::CMsgQue(int capacity) : m_msgQueImp(std::make_unique<CMsgQueImp>(capacity)) {}

CMsgQue::~CMsgQue() = default;

bool CMsgQue::PostMsg(uint32_t msg, uint32_t wparam, uint32_t lparam, uint32_t priority) {
  return m_msgQueImp->Post(msg, wparam, lparam, priority);
}

bool CMsgQue::RecvMsg(tagMSG *out, bool wait) { return m_msgQueImp->Recv(out, wait); }

void CMsgQue::CloseMsg() { m_msgQueImp->Close(); }

void CMsgQue::ClearMsg() { m_msgQueImp->Clear(); }

int CMsgQue::GetMsgCount() { return m_msgQueImp->Count(); }

int CMsgQue::GetCapacity() { return m_msgQueImp->Capacity(); }

void CMsgQue::SetCapacity(int capacity) { m_msgQueImp->SetCapacity(capacity); }

}  // namespace infra
