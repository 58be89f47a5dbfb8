// CMsgQue: a bounded, thread-safe queue of small messages, first in, first out.
#pragma once

#include <cstdint>
#include <memory>

namespace infra {

// One message: four 32-bit words.
struct tagMSG {
  uint32_t m_nMsg;     // message code
  uint32_t m_wParam;   // first parameter
  uint32_t m_lParam;   // second parameter
  uint32_t m_dwTime;   // low 32 bits of GetMSCount when it was posted
};

// The code CThread::Stop posts to wake a body blocked in RecvMsg.
constexpr uint32_t MSG_QUIT = 205;

// Posts the queue accepts have a priority below this; the priority has no other effect.
constexpr uint32_t kMsgPriorityLimit = 10;

class CMsgQueImp;

// Any number of threads may post and receive at once. The queue's list nodes come from the
// process-wide block pool for them (poolallocator.h).
class CMsgQue {
 public:
  using tagMSG = infra::tagMSG;

  // capacity: the most messages that may wait at once; 0 refuses every post.
  explicit CMsgQue(int capacity);
  virtual ~CMsgQue();
  CMsgQue(const CMsgQue &) = delete;
  CMsgQue &operator=(const CMsgQue &) = delete;

  // Appends {msg, wparam, lparam, now} and wakes one receiver. Returns false, changing
  // nothing, when the queue is full, closed, or priority is kMsgPriorityLimit or more.
  bool PostMsg(uint32_t msg, uint32_t wparam, uint32_t lparam, uint32_t priority);
  // Takes the oldest message into *out. wait: block until one arrives; else return false at
  // once when none waits. A waiting receive may also return false when ClearMsg dropped the
  // message it was woken for.
  bool RecvMsg(tagMSG *out, bool wait);
  // Refuses every later post for good; the waiting messages stay receivable.
  void CloseMsg();
  // Drops every waiting message that no blocked receiver has been woken for already.
  void ClearMsg();
  // Number of waiting messages.
  int GetMsgCount();
  // The capacity, and changing it (messages already waiting stay).
  int GetCapacity();
  void SetCapacity(int capacity);

 private:
  std::unique_ptr<CMsgQueImp> m_msgQueImp;
};

}  // namespace infra
