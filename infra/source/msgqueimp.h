// CMsgQueImp: the state of one message queue, shared by CMsgQue and a CThread's own queue.
//
// Invariant, under m_lock: the units in m_semMsg plus the receivers that have taken a unit
// but not yet the lock equal m_nMsg. A unit is posted under the lock together with its
// message, and a receive or clear takes a message only with a unit, so no one ever waits for
// a unit while holding the lock.
#pragma once

#include <cstdint>
#include <list>

#include "infra/msgque.h"
#include "infra/mutex.h"
#include "infra/poolallocator.h"
#include "infra/semaphore.h"

namespace infra {

class CMsgQueImp {
 public:
  explicit CMsgQueImp(int capacity);

  // CMsgQue::PostMsg.
  bool Post(uint32_t msg, uint32_t wparam, uint32_t lparam, uint32_t priority);
  // Posts MSG_QUIT even to a full or closed queue: the stop request of a thread must reach a
  // body blocked in Recv.
  void PostQuit();
  // CMsgQue::RecvMsg.
  bool Recv(tagMSG *out, bool wait);
  // CMsgQue::CloseMsg, ClearMsg, GetMsgCount, GetCapacity, SetCapacity.
  void Close();
  void Clear();
  int Count();
  int Capacity();
  void SetCapacity(int capacity);

 private:
  void Append(uint32_t msg, uint32_t wparam, uint32_t lparam);  // with m_lock held
  void TakeOldest(tagMSG *out);                                 // with m_lock held

  std::list<tagMSG, pool_allocator<tagMSG>> m_list;  // newest at the front; m_lock
  bool m_bEnabled = true;                            // posts allowed; m_lock
  CMutex m_lock{0};
  CSemaphore m_semMsg{0};                            // see the invariant above
  int m_nMsg = 0;                                    // m_list's length; m_lock
  int m_nMaxMsg;                                     // capacity; m_lock
};

}  // namespace infra
