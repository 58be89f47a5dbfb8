// CInfra: start and orderly stop of the runtime support library.
//
// Call CInfra::Instance()->start() once before any other use of the library; it starts the
// timer scheduler. stop() ends the library's own threads and deletes both managers.
//
// Shutdown: the managers are heap objects that no static destructor touches, and the locks
// their threads use are never destroyed, so a process may simply end while the scheduler
// and the idle pooled threads run (they only sleep, poll the steady clock and wait on their
// own semaphores). A program that wants every library thread joined before it ends (the
// tests do, so the sanitizers see a clean exit) calls stop() after its own threads and timers
// have stopped.
#pragma once

namespace infra {

class CInfra {
 public:
  // The instance, created on first use.
  static CInfra *Instance();
  // Deletes the instance (it does not stop the library; see stop).
  static void DeleteInstance();

  virtual ~CInfra() = default;

  // Prints the library banner, starts the timer scheduler (when it is not running already)
  // and records the calling thread as the main thread. Returns true.
  bool start();
  // Stops the scheduler with wait, then ends every pooled thread, deleting both managers.
  // Returns true. Call it only when no other library thread runs and no timer is started.
  bool stop();

 private:
  template <class T> friend class LazyInstance;
  CInfra() = default;
};

}  // namespace infra
