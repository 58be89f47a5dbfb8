// CThread: start, stop and restart, the exit handshake, names, deadlines, the thread table
// and the queue forwarders.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "faults.h"
#include "helpers.h"
#include "infra/clock.h"
#include "infra/thread.h"

namespace infra {
namespace {

using test::Gate;
using test::WaitFor;

// A thread whose body the test supplies; counts runs and says when the last one returned.
class TestThread : public CThread {
 public:
  explicit TestThread(const char *name = "Test", int queueCapacity = 0)
      : CThread(name, 64, queueCapacity, 0) {}
  ~TestThread() override {
    Stop(true);
    Join();
  }
  bool Looping() const { return m_bLoop.load(); }
  bool Nap(int ms) { return NapWhileLooping(ms); }
  void EndOnItsOwn() { m_bLoop.store(false); }

  std::function<void(TestThread &)> body = [](TestThread &t) {
    while (t.Looping()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  };
  std::atomic<int> runs{0};
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);

 protected:
  void ThreadProc() override {
    ended->store(false);
    ++runs;
    body(*this);
    ended->store(true);
  }
};

TEST(Thread, StopOfNeverStartedOrFinishedThreadReturnsAtOnce) {
  TestThread never;
  EXPECT_TRUE(never.Stop(true));
  EXPECT_TRUE(never.IsStopped());
  EXPECT_EQ(never.GetThreadId(), 0xFFFFFFFFu);

  TestThread finished;
  finished.body = [](TestThread &t) { t.EndOnItsOwn(); };
  ASSERT_TRUE(finished.Start());
  ASSERT_TRUE(WaitFor([&] { return finished.ended->load(); }));
  EXPECT_TRUE(finished.Stop(true));  // the loop flag is clear: nothing to wait for
  EXPECT_NE(finished.GetThreadId(), 0xFFFFFFFFu);
}

TEST(Thread, StopWithWaitBlocksUntilTheBodyEndedAndLeftTheManager) {
  TestThread t;
  t.body = [](TestThread &self) {
    while (self.Looping()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a slow finish
  };
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(WaitFor([&] { return CThreadManager::Instance()->Contains(&t); }));
  EXPECT_FALSE(t.IsStopped());
  EXPECT_TRUE(t.Stop(true));
  EXPECT_TRUE(t.ended->load());
  EXPECT_FALSE(CThreadManager::Instance()->Contains(&t));
}

TEST(Thread, StopWithoutWaitReturnsWhileTheBodyStillRuns) {
  Gate gate;
  TestThread t;
  t.body = [&](TestThread &self) {
    while (self.Looping()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    gate.Pass();
  };
  ASSERT_TRUE(t.Start());
  EXPECT_TRUE(t.Stop(false));
  EXPECT_FALSE(t.ended->load());
  gate.Open();
  EXPECT_TRUE(WaitFor([&] { return t.ended->load(); }));
}

// A body napping for an hour ends as soon as it is stopped: Stop(true) returns (no timing is
// measured; without the wake-up this test would run into the test timeout).
TEST(Thread, StopWakesANappingBody) {
  TestThread t;
  std::atomic<int> naps{0};
  std::atomic<bool> lastNap{true};
  t.body = [&](TestThread &self) {
    ++naps;
    lastNap = self.Nap(3'600'000);
  };
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(WaitFor([&] { return naps.load() == 1; }));
  EXPECT_TRUE(t.Stop(true));
  EXPECT_TRUE(t.ended->load());
  EXPECT_FALSE(lastNap);
}

// A nap of a running body lasts its time and says the loop goes on.
TEST(Thread, NapOfARunningBodyReturnsTrue) {
  TestThread t;
  std::atomic<int> result{-1};
  t.body = [&](TestThread &self) {
    result = self.Nap(1) ? 1 : 0;
    while (self.Looping()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  };
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(WaitFor([&] { return result.load() != -1; }));
  EXPECT_EQ(result.load(), 1);
}

TEST(Thread, StopWithWaitFromItsOwnBodyNeverWaits) {
  TestThread t;
  t.body = [](TestThread &self) { self.Stop(true); };
  ASSERT_TRUE(t.Start());
  EXPECT_TRUE(WaitFor([&] { return t.ended->load(); }));
  EXPECT_TRUE(t.IsStopped());
}

TEST(Thread, StartOnAFinishingObjectWaitsForThePreviousRun) {
  Gate gate;
  TestThread t;
  t.body = [&](TestThread &self) {
    self.EndOnItsOwn();
    if (self.runs == 1) gate.Pass();  // the first run lingers after clearing its flag
  };
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(WaitFor([&] { return t.IsStopped(); }));
  std::atomic<bool> restarted{false};
  std::thread starter([&] {
    EXPECT_TRUE(t.Start());
    restarted = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(restarted.load());
  gate.Open();
  starter.join();
  EXPECT_TRUE(WaitFor([&] { return t.runs == 2 && t.ended->load(); }));
}

TEST(Thread, RestartOfAFinishedObjectRunsAgain) {
  TestThread t;
  for (int run = 1; run <= 3; ++run) {
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(WaitFor([&] { return t.runs == run; }));
    EXPECT_TRUE(t.Stop(true));
    EXPECT_TRUE(t.ended->load());
  }
}

TEST(Thread, StartFromItsOwnBodyIsRefused) {
  std::atomic<int> result{-1};
  TestThread t;
  t.body = [&](TestThread &self) {
    result = self.Start() ? 1 : 0;
    self.EndOnItsOwn();
  };
  ASSERT_TRUE(t.Start());
  EXPECT_TRUE(WaitFor([&] { return t.ended->load(); }));
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(t.runs.load(), 1);
}

TEST(Thread, FailedCreationIsReportedAndLeavesTheObjectStartable) {
  test::ReportCatcher catcher;
  TestThread t;
  faults::FailThreadCreations(1);
  EXPECT_FALSE(t.Start());
  EXPECT_TRUE(t.IsStopped());
  ASSERT_EQ(catcher.Reports().size(), 1u);
  EXPECT_EQ(catcher.Reports()[0].expr, "m_threadImp->m_hThread");
  EXPECT_EQ(catcher.Reports()[0].file, "infra/source/thread.cpp");
  EXPECT_TRUE(t.Start());  // would wait without end if the start unit were still taken
  EXPECT_TRUE(WaitFor([&] { return t.runs == 1; }));
  EXPECT_TRUE(t.Stop(true));
}

TEST(Thread, DestructorWaitsForABodyThatWasStoppedWithoutWait) {
  Gate gate;
  auto t = std::make_unique<TestThread>();
  auto ended = t->ended;
  t->body = [&](TestThread &self) {
    while (self.Looping()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    gate.Pass();
  };
  ASSERT_TRUE(t->Start());
  t->Stop(false);
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    gate.Open();
  });
  t.reset();
  EXPECT_TRUE(ended->load());
  opener.join();
}

TEST(Thread, NamesAndDeadlines) {
  TestThread unnamed(nullptr);
  EXPECT_EQ(unnamed.GetName(), "Nonamed");
  unnamed.SetName("Player");
  EXPECT_EQ(unnamed.GetName(), "Player");
  unnamed.SetName(nullptr);
  EXPECT_EQ(unnamed.GetName(), "Nonamed");

  EXPECT_FALSE(unnamed.IsTimedOut());
  unnamed.SetTimeout(0xFFFFFFFFu);  // far away, but a deadline all the same
  EXPECT_FALSE(unnamed.IsTimedOut());
  unnamed.SetTimeout(1);
  EXPECT_TRUE(WaitFor([&] { return unnamed.IsTimedOut(); }));
  unnamed.SetTimeout(0);
  EXPECT_FALSE(unnamed.IsTimedOut());
}

TEST(ThreadManager, DumpListsMainThenRunningThreadsNewestFirst) {
  TestThread older("Older"), newer(nullptr);
  ASSERT_TRUE(older.Start());
  ASSERT_TRUE(WaitFor([&] { return CThreadManager::Instance()->Contains(&older); }));
  ASSERT_TRUE(newer.Start());
  ASSERT_TRUE(WaitFor([&] { return CThreadManager::Instance()->Contains(&newer); }));
  older.SetTimeout(1);
  ASSERT_TRUE(WaitFor([&] { return older.IsTimedOut(); }));

  const auto lines = test::PrintedLines([](FILE *out) { CThreadManager::Instance()->Dump(out); });
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Threads:");
  EXPECT_EQ(lines[1], "               Name            PID  Prior State");
  EXPECT_EQ(lines[2], std::string(55, '_'));
  const char *row = "%24s   %8d  %3d  %s";
  EXPECT_EQ(lines[3], test::Format(row, "Main", static_cast<int>(GetCurrentThreadId()), 64, "Normal"));
  const auto at = [&](const std::string &text) {
    return std::find(lines.begin(), lines.end(), text) - lines.begin();
  };
  const auto newerRow = at(test::Format(row, "Nonamed", static_cast<int>(newer.GetThreadId()), 64, "Normal"));
  const auto olderRow = at(test::Format(row, "Older", static_cast<int>(older.GetThreadId()), 64, "Timeout"));
  EXPECT_LT(newerRow, olderRow);
  EXPECT_LT(olderRow, static_cast<long>(lines.size()));
}

TEST(ThreadManager, UnlinksFromHeadMiddleAndIgnoresUnlistedThreads) {
  CThreadManager *manager = CThreadManager::Instance();
  TestThread a, b, c;
  manager->Register(&a);
  manager->Register(&b);
  manager->Register(&c);
  manager->Unregister(&b);  // middle
  EXPECT_TRUE(manager->Contains(&a));
  EXPECT_FALSE(manager->Contains(&b));
  EXPECT_TRUE(manager->Contains(&c));
  manager->Unregister(&c);  // head
  manager->Unregister(&b);  // not listed: nothing happens
  EXPECT_TRUE(manager->Contains(&a));
  EXPECT_FALSE(manager->Contains(&c));
  manager->Unregister(&a);
  EXPECT_FALSE(manager->Contains(&a));
}

TEST(ThreadManager, ReleaseOfNullIsReported) {
  test::ReportCatcher catcher;
  CThreadManager::Instance()->ReleasePooled(nullptr);
  ASSERT_EQ(catcher.Reports().size(), 1u);
  EXPECT_EQ(catcher.Reports()[0].expr, "pThread");
}

TEST(Thread, QueueForwardersAndQuitWakeABlockedBody) {
  std::vector<uint32_t> received;
  TestThread t("Queued", 4);
  t.body = [&](TestThread &self) {
    tagMSG msg;
    while (self.RecvMsg(&msg, true) && msg.m_nMsg != MSG_QUIT) received.push_back(msg.m_nMsg);
  };
  EXPECT_TRUE(t.PostMsg(1, 0, 0, 0));
  EXPECT_TRUE(t.PostMsg(2, 0, 0, 0));
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(WaitFor([&] { return t.GetMsgCount() == 0; }));
  t.CloseMsg();     // later posts are refused, but the stop request still gets through
  EXPECT_FALSE(t.PostMsg(3, 0, 0, 0));
  EXPECT_TRUE(t.Stop(true));
  EXPECT_EQ(received, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(t.GetMsgCount(), 0);

  TestThread plain;
  tagMSG msg;
  EXPECT_FALSE(plain.PostMsg(1, 0, 0, 0));
  EXPECT_FALSE(plain.RecvMsg(&msg, false));
  EXPECT_EQ(plain.GetMsgCount(), 0);
}

}  // namespace
}  // namespace infra
