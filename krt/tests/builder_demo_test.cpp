// The demo disk holds what the viewer's demo promises: two partitions with different cluster
// sizes, several channels, a few days, an older lap and a file running past midnight.
#include <gtest/gtest.h>

#include <set>

#include "krt_testing/demo_disk.h"

using namespace krt_testing;

TEST(BuilderDemo, HasWhatTheDemoPromises) {
  const Disk disk = demo_disk();
  const BuildResult plan = plan_image(disk);
  ASSERT_TRUE(plan.ok) << plan.error;
  ASSERT_EQ(plan.partitions.size(), 2u);
  EXPECT_NE(disk.partitions[0].sector_per_clus, disk.partitions[1].sector_per_clus);

  const ParamBlock& p0 = plan.partitions[0].params;
  EXPECT_EQ(p0.lap, 1);
  EXPECT_GT(p0.start_cluster2, p0.current_cluster);
  EXPECT_GT(p0.end_cluster2, p0.start_cluster2);
  EXPECT_LT(p0.end_cluster2, p0.total_clus);

  std::set<int> channels, days;
  bool past_midnight = false;
  for (const Partition& part : disk.partitions)
    for (const File& f : part.files) {
      channels.insert(f.channel);
      days.insert(int(f.start >> 17));
      past_midnight |= (f.start >> 17) != (f.end >> 17) && (f.end & 0x1FFFF) != 0;
    }
  EXPECT_GE(channels.size(), 8u);
  EXPECT_GE(days.size(), 3u);
  EXPECT_TRUE(past_midnight);
}
