// CMutex, CSemaphore, the counters and Callback.
#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"
#include "infra/callback.h"
#include "infra/clock.h"
#include "infra/mutex.h"
#include "infra/semaphore.h"

namespace infra {
namespace {

TEST(Mutex, IsRecursiveAndRefusesLeaveByOtherThreads) {
  CMutex mutex(1);
  EXPECT_TRUE(mutex.Enter());
  EXPECT_TRUE(mutex.Enter());
  bool otherLeave = true;
  std::thread([&] { otherLeave = mutex.Leave(); }).join();
  EXPECT_FALSE(otherLeave);
  EXPECT_TRUE(mutex.Leave());
  EXPECT_TRUE(mutex.Leave());
  EXPECT_FALSE(mutex.Leave());  // no longer held
  // Free again: another thread can take it.
  std::thread([&] {
    CGuard guard(mutex);
  }).join();
}

TEST(Semaphore, PendTakesUnitsAndTimesOut) {
  CSemaphore sem(1);
  EXPECT_TRUE(sem.Pend(0));
  EXPECT_FALSE(sem.Pend(0));
  EXPECT_FALSE(sem.Pend(2));
  std::thread poster([&] { sem.Post(); });
  EXPECT_TRUE(sem.Pend(-1));
  poster.join();
}

TEST(Semaphore, RefusesPostBeyondMaximum) {
  CSemaphore sem(CSemaphore::kMaxCount);
  EXPECT_FALSE(sem.Post());
  EXPECT_TRUE(sem.Pend(0));
  EXPECT_TRUE(sem.Post());
}

TEST(Clock, CountersAgreeAndNeverGoBack) {
  const uint64_t ms = GetMSCount();
  const uint64_t us = GetUSCount();
  EXPECT_GE(us / 1000, ms);
  test::WaitFor([&] { return GetMSCount() > ms; });
  EXPECT_GT(GetUSCount(), us);
  EXPECT_NE(GetCurrentThreadId(), 0u);
  uint32_t other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, GetCurrentThreadId());
}

struct Counter {
  uint32_t sum = 0;
  void Add(uint32_t n) { sum += n; }
  int AddWithResult(uint32_t n) { return static_cast<int>(sum += n); }
};

uint32_t g_plainSum = 0;
void PlainAdd(uint32_t n) { g_plainSum += n; }

TEST(Callback, CallsPlainAndMemberFunctions) {
  Counter counter;
  Callback::Member<&Counter::Add>(&counter)(3);
  Callback::Member<&Counter::AddWithResult>(&counter)(4);
  EXPECT_EQ(counter.sum, 7u);
  g_plainSum = 0;
  Callback::Plain(&PlainAdd)(5);
  EXPECT_EQ(g_plainSum, 5u);
  Callback empty;
  EXPECT_TRUE(empty.IsEmpty());
  empty(1);  // does nothing
}

}  // namespace
}  // namespace infra
