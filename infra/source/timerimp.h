// CTimerImp: the record of one timer. Every field is guarded by the timer lock; the two flags
// are atomic only so IsStarted and IsDone may read them without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "infra/callback.h"
#include "infra/thread.h"

namespace infra {

class CTimerImp {
 public:
  uint64_t m_due = 0;                   // due time in GetMSCount units
  uint32_t m_period = 0;                // ms; 0 = one-shot
  uint32_t m_timeout = 0;               // run deadline for the pooled thread; 0 = none
  Callback m_callback;                  // what to run
  uint32_t m_param = 0;                 // its parameter
  std::string m_name;                   // table and pooled-thread name
  std::atomic<bool> m_bStarted{false};  // in the manager's list
  std::atomic<bool> m_bDone{false};     // a one-shot run was handed out since Start
  CTimerImp *m_prev = nullptr;          // manager's list
  CTimerImp *m_next = nullptr;          // manager's list
  PooledThreadSlot m_slot;              // the run in progress, if any
};

}  // namespace infra
