// Pooled threads and slots: concurrent runs, refusal of a busy slot, reuse, a slot destroyed
// mid-run, and the first creation of the managers under a concurrent first use.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "faults.h"
#include "helpers.h"
#include "infra/clock.h"
#include "infra/infra.h"
#include "infra/thread.h"
#include "infra/timer.h"

namespace infra {
namespace {

using test::Gate;
using test::WaitFor;

// One run's record: the thread it ran on; it waits at its gate before returning.
struct BlockingRun {
  Gate gate;
  std::atomic<uint32_t> tid{0};
  std::atomic<bool> done{false};
  void Body(uint32_t) {
    tid = GetCurrentThreadId();
    gate.Pass();
    done = true;
  }
  Callback AsCallback() { return Callback::Member<&BlockingRun::Body>(this); }
};

// Waits until the pooled thread with id tid is back on the idle list: takes idle threads
// until it comes up, then gives every one back, that one last so it is the next to be used.
bool WaitUntilIdle(uint32_t tid) {
  CThreadManager *manager = CThreadManager::Instance();
  std::vector<PooledThread *> taken;
  const bool found = WaitFor([&] {
    taken.push_back(manager->AcquirePooled());
    return taken.back() && taken.back()->GetThreadId() == tid;
  });
  for (PooledThread *t : taken)
    if (t) manager->ReleasePooled(t);
  return found;
}

TEST(PooledThread, TwoSlotsRunAtOnceOnDifferentThreadsAndABusySlotRefuses) {
  PooledThreadSlot a, b;
  BlockingRun runA, runB, refused;
  ASSERT_TRUE(a.Dispatch("A", runA.AsCallback(), 0, 0));
  ASSERT_TRUE(b.Dispatch("B", runB.AsCallback(), 0, 0));
  EXPECT_TRUE(a.IsBusy());
  EXPECT_FALSE(a.Dispatch("A", refused.AsCallback(), 0, 0));
  ASSERT_TRUE(WaitFor([&] { return runA.tid && runB.tid; }));
  EXPECT_NE(runA.tid.load(), runB.tid.load());
  EXPECT_NE(runA.tid.load(), GetCurrentThreadId());
  runA.gate.Open();
  runB.gate.Open();
  ASSERT_TRUE(WaitFor([&] { return !a.IsBusy() && !b.IsBusy(); }));
  EXPECT_EQ(refused.tid.load(), 0u);

  // The threads are reused: the next run lands on one of them.
  BlockingRun again;
  again.gate.Open();
  ASSERT_TRUE(WaitUntilIdle(runA.tid));
  ASSERT_TRUE(a.Dispatch("A", again.AsCallback(), 0, 0));
  ASSERT_TRUE(WaitFor([&] { return again.done.load(); }));
  EXPECT_EQ(again.tid.load(), runA.tid.load());  // the most recently released idle thread
}

TEST(PooledThread, BusyThreadCarriesTheRunsNameAndDeadline) {
  PooledThreadSlot slot;
  BlockingRun run;
  ASSERT_TRUE(slot.Dispatch("HotPlug", run.AsCallback(), 0, 1));
  ASSERT_TRUE(WaitFor([&] { return run.tid != 0; }));
  const auto row = [&] {
    for (const auto &line : test::PrintedLines([](FILE *out) { CThreadManager::Instance()->Dump(out); }))
      if (line.find(test::Format(" %8d ", static_cast<int>(run.tid.load()))) != std::string::npos) return line;
    return std::string();
  };
  EXPECT_TRUE(WaitFor([&] {
    return row() == test::Format("%24s   %8d  %3d  %s", "HotPlug", static_cast<int>(run.tid.load()), 64, "Timeout");
  }));
  run.gate.Open();
  EXPECT_TRUE(WaitFor([&] {
    return row() == test::Format("%24s   %8d  %3d  %s", "Pooled", static_cast<int>(run.tid.load()), 64, "Normal");
  }));
}

TEST(PooledThread, SlotDestroyedMidRunLetsTheRunFinishAndTheThreadReturn) {
  auto slot = std::make_unique<PooledThreadSlot>();
  BlockingRun run;
  ASSERT_TRUE(slot->Dispatch("Gone", run.AsCallback(), 0, 0));
  ASSERT_TRUE(WaitFor([&] { return run.tid != 0; }));
  slot.reset();
  run.gate.Open();
  ASSERT_TRUE(WaitFor([&] { return run.done.load(); }));
  EXPECT_TRUE(WaitUntilIdle(run.tid));
}

TEST(PooledThread, DispatchIsRefusedWhenNoThreadCanBeMade) {
  test::ReportCatcher catcher;
  faults::FailThreadCreations(1000);
  CThreadManager *manager = CThreadManager::Instance();
  std::vector<PooledThread *> idle;  // empty the idle list
  while (PooledThread *t = manager->AcquirePooled()) idle.push_back(t);
  PooledThreadSlot slot;
  BlockingRun run;
  EXPECT_FALSE(slot.Dispatch("NoThread", run.AsCallback(), 0, 0));
  EXPECT_FALSE(slot.IsBusy());
  faults::FailThreadCreations(0);
  ASSERT_FALSE(catcher.Reports().empty());
  EXPECT_EQ(catcher.Reports().back().expr, "m_threadImp->m_hThread");
  for (PooledThread *t : idle) manager->ReleasePooled(t);
  run.gate.Open();
  ASSERT_TRUE(slot.Dispatch("Again", run.AsCallback(), 0, 0));
  EXPECT_TRUE(WaitFor([&] { return run.done.load(); }));
  EXPECT_TRUE(WaitFor([&] { return !slot.IsBusy(); }));
}

TEST(Managers, FirstCreationIsSafeAgainstAConcurrentFirstUse) {
  CInfra::Instance()->stop();  // both managers gone
  constexpr int kThreads = 8;
  std::latch ready(kThreads);
  std::vector<CThreadManager *> threadManagers(kThreads);
  std::vector<CTimerManager *> timerManagers(kThreads);
  std::vector<std::thread> users;
  for (int i = 0; i < kThreads; ++i)
    users.emplace_back([&, i] {
      ready.arrive_and_wait();
      threadManagers[i] = CThreadManager::Instance();
      timerManagers[i] = CTimerManager::Instance();
    });
  for (auto &u : users) u.join();
  for (int i = 1; i < kThreads; ++i) {
    EXPECT_EQ(threadManagers[i], threadManagers[0]);
    EXPECT_EQ(timerManagers[i], timerManagers[0]);
  }
  // start registers the scheduler from its own thread while this one records the main id.
  CInfra::Instance()->start();
  EXPECT_TRUE(WaitFor([] { return CThreadManager::Instance()->Contains(CTimerManager::Instance()); }));
  EXPECT_EQ(CThreadManager::Instance(), threadManagers[0]);
}

}  // namespace
}  // namespace infra
