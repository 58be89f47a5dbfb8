// The library clock: the manual clock moves its tick count and wall clock together, and its
// wall clock can be set without moving the tick count.
#include "krt/clock.h"

#include <gtest/gtest.h>

#include "krt/packed_time.h"

namespace krt {
namespace {

TEST(Clock, ManualClockMovesTickAndWallClockTogether) {
  const uint32_t start = pack_time({2010, 3, 5, 23, 59, 30});
  use_manual_clock(start, 1000);
  EXPECT_TRUE(manual_clock_in_use());
  EXPECT_EQ(tick_count(), 1000u);
  EXPECT_EQ(time_now(), start);
  advance_clock(999);
  EXPECT_EQ(time_now(), start) << "whole seconds only";
  advance_clock(30001);
  EXPECT_EQ(tick_count(), 32000u);
  EXPECT_EQ(time_now(), pack_time({2010, 3, 6, 0, 0, 1}));
  const uint32_t back = pack_time({2010, 3, 5, 12, 0, 0});
  set_clock_time(back);
  EXPECT_EQ(tick_count(), 32000u);
  EXPECT_EQ(time_now(), back);
  advance_clock(60000);
  EXPECT_EQ(time_now(), pack_time({2010, 3, 5, 12, 1, 0}));
  use_system_clock();
  EXPECT_FALSE(manual_clock_in_use());
  EXPECT_NE(time_now(), pack_time({2010, 3, 5, 12, 1, 0}));
}

TEST(Clock, TickCountWrapsAfter32Bits) {
  use_manual_clock(pack_time({2010, 1, 1, 0, 0, 0}), 0xFFFFFFF0ull);
  const uint32_t before = tick_count();
  advance_clock(0x20);
  EXPECT_EQ(uint32_t(tick_count() - before), 0x20u);
  EXPECT_EQ(clock_ms(), 0x100000010ull);
  use_system_clock();
}

}  // namespace
}  // namespace krt
