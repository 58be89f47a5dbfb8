// CMsgQue and the block pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "helpers.h"
#include "infra/clock.h"
#include "infra/msgque.h"
#include "infra/poolallocator.h"

namespace infra {
namespace {

using test::WaitFor;

TEST(MsgQue, RefusesPostsBeyondCapacityAndPriorityLimit) {
  struct Case {
    const char *what;
    int capacity;
    uint32_t priority;
    bool accepted;
  };
  const Case cases[] = {
      {"capacity 0", 0, 0, false},
      {"priority 9", 1, 9, true},
      {"priority 10", 1, 10, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CMsgQue queue(c.capacity);
    EXPECT_EQ(queue.PostMsg(1, 0, 0, c.priority), c.accepted);
    EXPECT_EQ(queue.GetMsgCount(), c.accepted ? 1 : 0);
  }
  CMsgQue queue(2);
  EXPECT_TRUE(queue.PostMsg(1, 0, 0, 0));
  EXPECT_TRUE(queue.PostMsg(2, 0, 0, 0));
  EXPECT_FALSE(queue.PostMsg(3, 0, 0, 0));  // full
  queue.SetCapacity(3);
  EXPECT_EQ(queue.GetCapacity(), 3);
  EXPECT_TRUE(queue.PostMsg(3, 0, 0, 0));
}

TEST(MsgQue, DeliversFirstInFirstOutWithPostingTime) {
  CMsgQue queue(8);
  const uint32_t before = static_cast<uint32_t>(GetMSCount());
  ASSERT_TRUE(queue.PostMsg(1, 10, 100, 5));
  ASSERT_TRUE(queue.PostMsg(2, 20, 200, 0));  // priority changes nothing
  ASSERT_TRUE(queue.PostMsg(3, 30, 300, 9));
  const uint32_t after = static_cast<uint32_t>(GetMSCount());
  for (uint32_t n = 1; n <= 3; ++n) {
    tagMSG msg;
    ASSERT_TRUE(queue.RecvMsg(&msg, n % 2 == 0));
    EXPECT_EQ(msg.m_nMsg, n);
    EXPECT_EQ(msg.m_wParam, n * 10);
    EXPECT_EQ(msg.m_lParam, n * 100);
    EXPECT_GE(msg.m_dwTime, before);
    EXPECT_LE(msg.m_dwTime, after);
  }
  tagMSG msg;
  EXPECT_FALSE(queue.RecvMsg(&msg, false));
}

TEST(MsgQue, ClosedQueueRefusesPostsButStillDelivers) {
  CMsgQue queue(4);
  ASSERT_TRUE(queue.PostMsg(7, 0, 0, 0));
  queue.CloseMsg();
  EXPECT_FALSE(queue.PostMsg(8, 0, 0, 0));
  tagMSG msg;
  ASSERT_TRUE(queue.RecvMsg(&msg, true));
  EXPECT_EQ(msg.m_nMsg, 7u);
}

TEST(MsgQue, ClearLeavesNothingToReceive) {
  CMsgQue queue(4);
  for (uint32_t n = 0; n < 3; ++n) ASSERT_TRUE(queue.PostMsg(n, 0, 0, 0));
  queue.ClearMsg();
  EXPECT_EQ(queue.GetMsgCount(), 0);
  tagMSG msg;
  EXPECT_FALSE(queue.RecvMsg(&msg, false));
  // No unit is left behind: the next message is received, and only once.
  ASSERT_TRUE(queue.PostMsg(9, 0, 0, 0));
  ASSERT_TRUE(queue.RecvMsg(&msg, true));
  EXPECT_EQ(msg.m_nMsg, 9u);
  EXPECT_FALSE(queue.RecvMsg(&msg, false));
}

TEST(MsgQue, BlockedReceiverWakesForAPost) {
  CMsgQue queue(4);
  tagMSG msg{};
  std::thread receiver([&] { EXPECT_TRUE(queue.RecvMsg(&msg, true)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(2));  // let it block
  ASSERT_TRUE(queue.PostMsg(MSG_QUIT, 0, 0, 0));
  receiver.join();
  EXPECT_EQ(msg.m_nMsg, MSG_QUIT);
}

TEST(MsgQue, ClearWhileAReceiverWasWokenNeverHangs) {
  // The woken receiver may have taken its unit but not yet the lock when the clear runs.
  for (int round = 0; round < 200; ++round) {
    CMsgQue queue(4);
    std::atomic<bool> got{false};
    std::thread receiver([&] {
      tagMSG msg;
      got = queue.RecvMsg(&msg, true);
    });
    ASSERT_TRUE(queue.PostMsg(1, 0, 0, 0));
    queue.ClearMsg();
    if (!queue.PostMsg(2, 0, 0, 0)) ADD_FAILURE() << "queue stuck full";
    receiver.join();
    EXPECT_TRUE(got.load());  // it received one of the two
    tagMSG rest;
    while (queue.RecvMsg(&rest, false)) {
    }
    EXPECT_EQ(queue.GetMsgCount(), 0);
  }
}

TEST(MsgQue, ManyPostersAndReceiversLoseNothingAndKeepEachPostersOrder) {
  constexpr int kPosters = 4, kPerPoster = 500;
  CMsgQue queue(kPosters * kPerPoster);
  std::atomic<int> received{0};
  std::vector<std::vector<uint32_t>> seen(kPosters * 2);
  std::vector<std::thread> threads;
  for (int r = 0; r < 2; ++r)  // one blocking receiver, one that polls
    threads.emplace_back([&, r] {
      tagMSG msg;
      while (received < kPosters * kPerPoster) {
        if (queue.RecvMsg(&msg, r == 0)) {
          if (msg.m_nMsg == MSG_QUIT) break;
          seen[r * kPosters + msg.m_wParam].push_back(msg.m_lParam);
          ++received;
        }
      }
    });
  for (int p = 0; p < kPosters; ++p)
    threads.emplace_back([&, p] {
      for (int i = 0; i < kPerPoster; ++i)
        while (!queue.PostMsg(1, static_cast<uint32_t>(p), static_cast<uint32_t>(i), 0)) {
        }
    });
  for (size_t t = 2; t < threads.size(); ++t) threads[t].join();
  ASSERT_TRUE(WaitFor([&] { return received == kPosters * kPerPoster; }));
  // Releases the blocking receiver if it still waits; two, since the polling one may take one.
  queue.SetCapacity(kPosters * kPerPoster + 2);
  queue.PostMsg(MSG_QUIT, 0, 0, 0);
  queue.PostMsg(MSG_QUIT, 0, 0, 0);
  threads[0].join();
  threads[1].join();
  for (const auto &order : seen) EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(BlockPool, ReusesFreedBlocksAndGrowsByChunks) {
  CBlockPool pool(1, 1);
  EXPECT_EQ(pool.GetBlockSize(), sizeof(void *));  // room for the free-list link
  EXPECT_EQ(pool.GetGrow(), 1024);
  pool.SetGrow(3);
  EXPECT_EQ(pool.GetGrow(), 3);
  void *a = pool.Allocate();
  pool.Deallocate(a);
  EXPECT_EQ(pool.Allocate(), a);  // the freed block comes back first
  void *b = pool.Allocate();
  void *c = pool.Allocate();
  EXPECT_EQ(static_cast<char *>(b) - static_cast<char *>(a), static_cast<ptrdiff_t>(pool.GetBlockSize()));
  EXPECT_EQ(static_cast<char *>(c) - static_cast<char *>(b), static_cast<ptrdiff_t>(pool.GetBlockSize()));
  EXPECT_EQ(pool.GetChunkCount(), 1);
  void *d = pool.Allocate();  // the chunk of three is used up
  EXPECT_EQ(pool.GetChunkCount(), 2);
  for (void *p : {a, b, c, d}) pool.Deallocate(p);
  pool.SetGrow(0);
  EXPECT_EQ(pool.GetGrow(), 1);
}

TEST(BlockPool, AllocatorServesSingleBlocksAndReportsOtherCounts) {
  struct Node {
    double value;
    Node *next;
  };
  pool_allocator<Node> alloc;
  Node *node = alloc.allocate(1);
  node->value = 1.5;
  alloc.deallocate(node, 1);
  EXPECT_EQ(alloc.allocate(1), node);
  alloc.deallocate(node, 1);

  test::ReportCatcher catcher;
  Node *many = alloc.allocate(3);
  many[2].value = 2.5;  // a real array of three
  alloc.deallocate(many, 3);
  ASSERT_EQ(catcher.Reports().size(), 2u);
  EXPECT_EQ(catcher.Reports()[0].expr, "n == 1");
  EXPECT_EQ(catcher.Reports()[0].file, "infra/include/infra/poolallocator.h");
}

}  // namespace
}  // namespace infra
