// Timers: one-shot and periodic runs on pooled threads, the order of equal due times,
// dropped overlapping runs, Stop with callNow, StopAndWait, callbacks that start and stop
// timers, a timer destroyed while its callback runs, and the timer table.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "helpers.h"
#include "infra/clock.h"
#include "infra/thread.h"
#include "infra/timer.h"

namespace infra {
namespace {

using test::Gate;
using test::WaitFor;

constexpr uint32_t kFar = 100000;  // a delay no test waits for

// Counts calls and records the thread and parameter of the last one.
struct Probe {
  std::atomic<int> calls{0};
  std::atomic<uint32_t> tid{0};
  std::atomic<uint32_t> param{0};
  void Hit(uint32_t p) {
    tid = GetCurrentThreadId();
    param = p;
    ++calls;
  }
  Callback AsCallback() { return Callback::Member<&Probe::Hit>(this); }
};

TEST(Timer, OneShotRunsOnceOnAPooledThread) {
  Probe probe;
  CTimer timer("Once");
  timer.Start(probe.AsCallback(), 0, 0, 7, 0);
  EXPECT_TRUE(timer.IsStarted());
  ASSERT_TRUE(WaitFor([&] { return probe.calls == 1; }));
  EXPECT_EQ(probe.param.load(), 7u);
  EXPECT_NE(probe.tid.load(), GetCurrentThreadId());
  EXPECT_TRUE(timer.IsDone());
  EXPECT_FALSE(timer.IsStarted());
}

TEST(Timer, PeriodicRunsUntilStopped) {
  Probe probe;
  CTimer timer("Tick");
  timer.Start(probe.AsCallback(), 1, 2, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return probe.calls >= 3; }));
  EXPECT_NE(probe.tid.load(), GetCurrentThreadId());
  EXPECT_TRUE(timer.IsStarted());
  EXPECT_FALSE(timer.IsDone());
  timer.Stop(false);
  EXPECT_FALSE(timer.IsStarted());
  EXPECT_TRUE(WaitFor([&] { return !timer.IsRunning(); }));
}

// Records the thread of its call and holds it until the gate opens, so the thread cannot go
// back to the pool before the test has looked.
struct HeldProbe {
  Gate gate;
  std::atomic<uint32_t> tid{0};
  void Hit(uint32_t) {
    tid = GetCurrentThreadId();
    gate.Pass();
  }
  Callback AsCallback() { return Callback::Member<&HeldProbe::Hit>(this); }
};

// A callback that runs until its gate opens and notes that it got to its end.
struct GatedRun {
  Gate gate;
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  void Hit(uint32_t) {
    entered = true;
    gate.Pass();
    finished = true;
  }
  Callback AsCallback() { return Callback::Member<&GatedRun::Hit>(this); }
};

TEST(Timer, StopAndWaitReturnsAfterTheRunningCallback) {
  GatedRun run;
  CTimer timer("Gated");
  timer.Start(run.AsCallback(), 0, 0, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return run.entered.load(); }));
  bool finishedAtReturn = false;
  std::thread stopper([&] {
    timer.StopAndWait();
    finishedAtReturn = run.finished;
  });
  run.gate.Open();
  stopper.join();
  EXPECT_TRUE(finishedAtReturn);
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_FALSE(timer.IsStarted());
  timer.StopAndWait();  // nothing running: returns at once
}

// Starts timers A and B with one clock reading, so their due times are equal, after putting
// two idle pooled threads on top of the idle list; the first timer run takes the top one.
// Returns false when another thread joined the idle list meanwhile and took a run (a pooled
// thread of an earlier test still returning itself), which leaves the order unobserved.
bool RunEqualTimers(std::vector<std::string> *dump, bool *bTookTop, bool *aTookNext) {
  CThreadManager *manager = CThreadManager::Instance();
  PooledThread *next = manager->AcquirePooled();
  PooledThread *top = manager->AcquirePooled();
  if (!top || !next) return false;
  WaitFor([&] { return top->GetThreadId() != 0xFFFFFFFFu && next->GetThreadId() != 0xFFFFFFFFu; });
  manager->ReleasePooled(next);
  manager->ReleasePooled(top);
  HeldProbe a, b;
  CTimer timerA("A"), timerB("B");
  {
    CGuard guard(TimerLock());
    timerA.Start(a.AsCallback(), 0, 0, 0, 0);
    timerB.Start(b.AsCallback(), 0, 0, 0, 0);
    *dump = test::PrintedLines([](FILE *out) { CTimerManager::Instance()->Dump(out); });
  }
  WaitFor([&] { return a.tid != 0 && b.tid != 0; });
  *bTookTop = b.tid == top->GetThreadId();
  *aTookNext = a.tid == next->GetThreadId();
  const bool undisturbed = (*bTookTop || b.tid == next->GetThreadId()) &&
                           (*aTookNext || a.tid == top->GetThreadId());
  a.gate.Open();
  b.gate.Open();
  WaitFor([&] { return !timerA.IsRunning() && !timerB.IsRunning(); });
  return undisturbed;
}

TEST(Timer, EqualDueTimesRunTheLastInsertedFirst) {
  std::vector<std::string> dump;
  bool bTookTop = false, aTookNext = false;
  bool observed = false;
  for (int attempt = 0; attempt < 20 && !observed; ++attempt)
    observed = RunEqualTimers(&dump, &bTookTop, &aTookNext);
  ASSERT_TRUE(observed);
  EXPECT_TRUE(bTookTop);
  EXPECT_TRUE(aTookNext);
  // The list itself: B, inserted last, stands before A.
  const auto at = [&](const char *name) {
    return std::find_if(dump.begin(), dump.end(),
                        [&](const std::string &l) { return l.rfind(test::Format("%16s ", name), 0) == 0; }) -
           dump.begin();
  };
  EXPECT_LT(at("B"), at("A"));
  EXPECT_LT(at("A"), static_cast<long>(dump.size()));
}

// A callback that lingers in its first call until the gate opens, and tracks overlap.
struct SlowProbe {
  Gate gate;
  std::atomic<int> entered{0};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  void Hit(uint32_t) {
    const int now = ++running;
    int seen = maxRunning.load();
    while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
    }
    if (++entered == 1) gate.Pass();
    --running;
  }
  Callback AsCallback() { return Callback::Member<&SlowProbe::Hit>(this); }
};

TEST(Timer, PeriodicRunsThatOverlapTheRunningCallbackAreDropped) {
  SlowProbe probe;
  CTimer timer("Slow");
  timer.Start(probe.AsCallback(), 0, 1, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return probe.entered == 1; }));
  const uint64_t stuckAt = GetMSCount();
  ASSERT_TRUE(WaitFor([&] { return GetMSCount() > stuckAt + 10; }));  // ten periods pass
  EXPECT_EQ(probe.entered.load(), 1);
  EXPECT_TRUE(timer.IsStarted());
  probe.gate.Open();
  ASSERT_TRUE(WaitFor([&] { return probe.entered >= 3; }));
  timer.Stop(false);
  ASSERT_TRUE(WaitFor([&] { return !timer.IsRunning(); }));
  EXPECT_EQ(probe.maxRunning.load(), 1);
}

TEST(Timer, StopWithCallNowRunsOnlyAStartedOneShotInTheCaller) {
  struct Case {
    const char *what;
    bool start;
    uint32_t period;
    int calls;
  };
  const Case cases[] = {
      {"started one-shot", true, 0, 1},
      {"started periodic", true, 5, 0},
      {"not started", false, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Probe probe;
    CTimer timer("Now");
    if (c.start) timer.Start(probe.AsCallback(), kFar, c.period, 3, 0);
    timer.Stop(true);
    EXPECT_EQ(probe.calls.load(), c.calls);
    if (c.calls) {
      EXPECT_EQ(probe.tid.load(), GetCurrentThreadId());
    }
    EXPECT_FALSE(timer.IsStarted());
    EXPECT_FALSE(timer.IsDone());
  }
}

// Callbacks that stop their own timer and start, restart or stop others.
struct Chain {
  CTimer self{"Self"};
  CTimer next{"Next"};
  Probe nextProbe;
  std::atomic<int> calls{0};
  void StopSelfStartNext(uint32_t) {
    ++calls;
    self.Stop(false);
    next.Start(nextProbe.AsCallback(), 0, 0, 0, 0);
  }
  void RestartSelf(uint32_t) {
    if (++calls == 1) self.Start(Callback::Member<&Chain::RestartSelf>(this), 0, 0, 0, 0);
  }
};

TEST(Timer, CallbacksMayStartAndStopTimersWithoutDeadlock) {
  {
    Chain chain;  // on a pooled thread
    chain.self.Start(Callback::Member<&Chain::StopSelfStartNext>(&chain), 0, 1, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return chain.nextProbe.calls == 1; }));
    EXPECT_FALSE(chain.self.IsStarted());
    EXPECT_TRUE(WaitFor([&] { return !chain.self.IsRunning() && !chain.next.IsRunning(); }));
    EXPECT_EQ(chain.calls.load(), 1);
  }
  {
    Chain chain;  // in the caller of Stop(true), under the timer lock
    chain.self.Start(Callback::Member<&Chain::RestartSelf>(&chain), kFar, 0, 0, 0);
    chain.self.Stop(true);
    EXPECT_EQ(chain.calls.load(), 1);
    EXPECT_TRUE(chain.self.IsStarted());  // the callback's restart stands
    ASSERT_TRUE(WaitFor([&] { return chain.calls == 2; }));
    EXPECT_TRUE(WaitFor([&] { return chain.self.IsDone() && !chain.self.IsRunning(); }));
  }
}

TEST(Timer, RestartReschedulesAStartedTimer) {
  Probe probe;
  CTimer timer("Again");
  timer.Start(probe.AsCallback(), kFar, 0, 1, 0);
  timer.Start(probe.AsCallback(), 0, 0, 2, 0);
  ASSERT_TRUE(WaitFor([&] { return probe.calls == 1; }));
  EXPECT_EQ(probe.param.load(), 2u);
  EXPECT_FALSE(timer.IsStarted());
}

TEST(Timer, DestroyedWhileItsCallbackRunsLetsTheCallbackFinish) {
  SlowProbe probe;
  auto timer = std::make_unique<CTimer>("Doomed");
  timer->Start(probe.AsCallback(), 0, 1, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return probe.entered == 1; }));
  timer.reset();
  probe.gate.Open();
  EXPECT_TRUE(WaitFor([&] { return probe.running == 0; }));  // its last touch of the probe
  // The pooled thread went back to the pool without touching the timer: the next timer runs.
  Probe after;
  CTimer next("After");
  next.Start(after.AsCallback(), 0, 0, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return after.calls == 1; }));
  EXPECT_EQ(probe.entered.load(), 1);
}

TEST(Timer, NamesAndTheTimerTable) {
  CTimer anonymous("NoName");
  EXPECT_EQ(anonymous.GetName(), "PID:" + std::to_string(GetCurrentThreadId()));

  SlowProbe slow;
  CTimer idle("Idle"), running("Busy");
  running.Start(slow.AsCallback(), 0, kFar, 0, 0);  // runs once, then waits a whole period
  ASSERT_TRUE(WaitFor([&] { return slow.entered == 1; }));
  EXPECT_TRUE(running.IsRunning());
  uint64_t now;
  std::vector<std::string> lines;
  {
    CGuard guard(TimerLock());
    idle.Start(Callback(), kFar, 0, 0, 0);
    now = CTimerManager::Instance()->GetCurTime();
    lines = test::PrintedLines([](FILE *out) { CTimerManager::Instance()->Dump(out); });
  }
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], test::Format("Timers: ( %llu Milli-Seconds Elapsed )", static_cast<unsigned long long>(now)));
  EXPECT_EQ(lines[1], std::string(41, '_'));
  const auto has = [&](const std::string &row) {
    return std::find(lines.begin(), lines.end(), row) != lines.end();
  };
  EXPECT_TRUE(has(test::Format("%16s %11llu %s", "Idle", static_cast<unsigned long long>(now + kFar), "Idel")));
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string &l) {
    return l.rfind(test::Format("%16s ", "Busy"), 0) == 0 && l.size() > 7 && l.substr(l.size() - 7) == "Running";
  }));
  slow.gate.Open();
  EXPECT_TRUE(WaitFor([&] { return !running.IsRunning(); }));
}

// A clock the test moves by hand, one millisecond at a time and only while the scheduler
// sleeps; it notes every sleep of the scheduler and the deadline it slept until.
class VirtualClock final : public CTimerClock {
 public:
  explicit VirtualClock(uint64_t start) : m_now(start) {}
  uint64_t NowMs() override { return m_now.load(); }
  void WaitUntil(uint64_t dueMs, std::condition_variable &wake,
                 std::unique_lock<std::mutex> &lock) override {
    m_lock = lock.mutex();
    m_wake = &wake;
    ++m_sleeps;
    m_deadline = dueMs;
    if (m_now.load() >= dueMs) return;
    m_asleep = true;
    wake.wait(lock);
    m_asleep = false;
  }
  // Moves the time on to `to`, waking the scheduler only when it reaches its deadline.
  void AdvanceTo(uint64_t to) {
    while (m_now.load() < to) {
      ASSERT_TRUE(WaitFor([&] { return m_asleep.load(); }));
      std::lock_guard<std::mutex> lock(*m_lock.load());
      if (++m_now >= m_deadline.load()) m_wake.load()->notify_all();
    }
  }
  int Sleeps() const { return m_sleeps.load(); }
  uint64_t Deadline() const { return m_deadline.load(); }

 private:
  std::atomic<uint64_t> m_now;
  std::atomic<std::mutex *> m_lock{nullptr};  // the scheduler's lock and condition, as it
  std::atomic<std::condition_variable *> m_wake{nullptr};  // last slept on them
  std::atomic<int> m_sleeps{0};
  std::atomic<uint64_t> m_deadline{0};
  std::atomic<bool> m_asleep{false};
};

TEST(Timer, TheSchedulerSleepsUntilTheNextDueTimer) {
  // Each run's clock is kept until the process ends, after the library's threads are joined:
  // once, under load, the thread sanitizer reported the clock's destruction right after
  // SetClock(nullptr) against the scheduler's last call into it (SetClock is a test-only hook).
  static std::vector<std::unique_ptr<VirtualClock>> kept;
  VirtualClock &clock = *kept.emplace_back(std::make_unique<VirtualClock>(1000));
  CTimerManager *manager = CTimerManager::Instance();
  manager->SetClock(&clock);
  // Nothing started: no deadline at all.
  ASSERT_TRUE(WaitFor([&] { return clock.Deadline() == CTimerClock::kNever; }));
  Probe probe;
  CTimer timer("Virtual");
  timer.Start(probe.AsCallback(), 1000, 1000, 0, 0);  // due at 2000, then every second
  ASSERT_TRUE(WaitFor([&] { return clock.Deadline() == 2001; }));
  const int sleepsBefore = clock.Sleeps();
  for (int run = 1; run <= 3; ++run) {
    clock.AdvanceTo(1001 + 1000 * run);
    ASSERT_TRUE(WaitFor([&] { return probe.calls == run; }));
  }
  ASSERT_TRUE(WaitFor([&] { return clock.Deadline() == 5001; }));
  // Three seconds of timer time cost a wake-up per run, not one per millisecond.
  EXPECT_LE(clock.Sleeps() - sleepsBefore, 6);
  EXPECT_EQ(probe.calls.load(), 3);
  timer.Stop(false);
  EXPECT_TRUE(WaitFor([&] { return !timer.IsRunning(); }));
  manager->SetClock(nullptr);
}

}  // namespace
}  // namespace infra
