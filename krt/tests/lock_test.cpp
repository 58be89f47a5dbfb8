// The lock order: locks are taken in rising level only, and the debug check stops a thread
// that breaks it.
#include "krt/lock.h"

#include <gtest/gtest.h>

#include <mutex>

namespace krt {
namespace {

TEST(LockOrder, RisingLevelsAndReentryPass) {
  LevelledMutex leaf(LockLevel::kLeaf);
  LevelledMutex log(LockLevel::kLog);
  std::lock_guard<std::recursive_mutex> outer(library_lock());
  std::lock_guard<std::recursive_mutex> again(library_lock());
  std::lock_guard<LevelledMutex> first(leaf);
  std::lock_guard<LevelledMutex> last(log);
  SUCCEED();
}

TEST(LockOrder, ReleasedLocksForbidNothing) {
  LevelledMutex log(LockLevel::kLog);
  { std::lock_guard<LevelledMutex> hold(log); }
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ASSERT_TRUE(log.try_lock());
  log.unlock();
}

struct WrongOrder {
  const char* name;
  LockLevel held;      // taken first
  bool then_library;   // then the library lock; otherwise a second lock of level `second`
  LockLevel second;
};

class LockOrderDeath : public testing::TestWithParam<WrongOrder> {};

TEST_P(LockOrderDeath, WrongOrderIsStopped) {
  if (!lock_order_checked()) GTEST_SKIP() << "this build does not check the lock order";
  const WrongOrder c = GetParam();
  EXPECT_DEATH(
      {
        LevelledMutex first(c.held);
        LevelledMutex second(c.second);
        std::lock_guard<LevelledMutex> hold(first);
        if (c.then_library) {
          std::lock_guard<std::recursive_mutex> late(library_lock());
        } else {
          std::lock_guard<LevelledMutex> late(second);
        }
      },
      "lock order: .* taken while holding ");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LockOrderDeath,
    testing::Values(WrongOrder{"LibraryUnderLog", LockLevel::kLog, true, LockLevel::kLog},
                    WrongOrder{"LibraryUnderLeaf", LockLevel::kLeaf, true, LockLevel::kLeaf},
                    WrongOrder{"LeafUnderLog", LockLevel::kLog, false, LockLevel::kLeaf},
                    WrongOrder{"TwoLeaves", LockLevel::kLeaf, false, LockLevel::kLeaf}),
    [](const testing::TestParamInfo<WrongOrder>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace krt
