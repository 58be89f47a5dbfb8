// CInfra: the library's start-up and orderly stop.
#include "infra/infra.h"

#include <cstdio>

#include "infra/clock.h"
#include "infra/thread.h"
#include "infra/timer.h"
#include "infra/trace.h"
#include "lazyinstance.h"

namespace infra {
namespace {
LazyInstance<CInfra> g_infra;
}  // namespace

CInfra *CInfra::Instance() { return g_infra.Get(); }

void CInfra::DeleteInstance() { g_infra.Delete(); }

bool CInfra::start() {
  Trace("Infra: $Rev: 921 $, Build in:%s, %s", __DATE__, __TIME__);
  Trace("CInfra::start()>>>>>>>>>>");
  CTimerManager *timers = CTimerManager::Instance();
  // A second start would wait for the running scheduler without end.
  if (timers->IsStopped()) timers->Start();
  CThreadManager::Instance()->SetMainThreadId(GetCurrentThreadId());
  return true;
}

bool CInfra::stop() {
  CTimerManager::DeleteInstance();   // stops the scheduler with wait
  CThreadManager::DeleteInstance();  // ends every pooled thread
  return true;
}

}  // namespace infra
