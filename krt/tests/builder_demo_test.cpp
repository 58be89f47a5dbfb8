// The demo disk's day holds what a recorder's day holds: continuous stretches cut into pack
// periods, motion and alarm events, a power cut on every channel at once, a partition change, a
// clock set back, an older lap partly overwritten, sound, a file past midnight; and the
// builder lays it out with the sizes the list gives.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "krt_testing/demo_disk.h"

using namespace krt_testing;

namespace {

int64_t secs(uint32_t t) { return seconds_since_2000(t); }

// Seconds of the longest run of back-to-back continuous recordings of each channel, and how
// many files it was cut into (current lap, one write run).
std::map<int, std::pair<int64_t, int>> longest_stretches(const std::vector<DemoRecording>& day) {
  std::map<int, std::pair<int64_t, int>> longest;
  std::map<std::pair<int, uint32_t>, std::pair<int64_t, std::pair<int64_t, int>>> open;  // (channel, run) -> end, stretch
  for (const DemoRecording& r : day) {
    if (r.kind != 0 || r.older_lap) continue;
    auto& [end, stretch] = open[{r.channel, r.run}];
    if (stretch.second == 0 || end != secs(r.start)) stretch = {0, 0};
    stretch.first += secs(r.end) - secs(r.start);
    stretch.second += 1;
    end = secs(r.end);
    auto& best = longest[r.channel];
    if (stretch.first > best.first) best = stretch;
  }
  return longest;
}

}  // namespace

TEST(BuilderDemo, TheDayHasWhatARecordersDayHas) {
  const std::vector<DemoRecording> day = demo_recordings();
  const DemoDay d = demo_day();

  // Continuous stretches of at least 30 minutes, cut into pack periods, on four channels.
  int long_stretches = 0;
  for (const auto& [channel, stretch] : longest_stretches(day))
    long_stretches += stretch.first >= 30 * 60 && stretch.second >= 2 ? 1 : 0;
  EXPECT_GE(long_stretches, 4);

  std::set<uint8_t> kinds;
  std::set<int> sound_channels;
  bool past_midnight = false, older_lap = false, set_back = false;
  int64_t last_run0_end = 0;
  for (const DemoRecording& r : day) {
    SCOPED_TRACE(std::to_string(r.channel) + " at " + std::to_string(secs(r.start)));
    kinds.insert(r.kind);
    if (r.sound) sound_channels.insert(r.channel);
    EXPECT_TRUE(!r.sound || r.stream == DemoStream::kProgramStream);
    EXPECT_EQ(demo_seconds(r) % kDemoGopSeconds, 0u);
    EXPECT_LE(demo_seconds(r), d.pack_seconds);
    if (r.kind != 0) {
      EXPECT_TRUE(demo_seconds(r) >= 10 && demo_seconds(r) <= 120) << "an event of 10 s to 2 min";
    }
    past_midnight |= (r.start >> 17) != (r.end >> 17);
    older_lap |= r.older_lap;
    if (r.older_lap) continue;
    // The power cut: no channel records through it.
    EXPECT_TRUE(secs(r.end) <= secs(d.power_off) || secs(r.start) >= secs(d.power_on));
    // The partition change: idea0 before it, idea1 from it on.
    EXPECT_EQ(r.partition, r.run == 0 && secs(r.start) < secs(d.partition_change) ? 0 : 1);
    if (r.run == 0) last_run0_end = std::max(last_run0_end, secs(r.end));
    set_back |= r.run == 1 && secs(r.start) < last_run0_end;
  }
  EXPECT_EQ(kinds, (std::set<uint8_t>{0, 1, 2})) << "continuous, alarm and motion recordings";
  EXPECT_EQ(sound_channels.size(), 2u);
  EXPECT_TRUE(past_midnight);
  EXPECT_TRUE(older_lap);
  EXPECT_TRUE(set_back) << "recording goes on at times already recorded";
  EXPECT_LT(secs(d.clock_set_to), secs(d.clock_set_at));
}

TEST(BuilderDemo, LaysOutTheDayWithTheSizesOfTheList) {
  for (const bool short_recordings : {false, true}) {
    SCOPED_TRACE(short_recordings ? "short" : "full");
    const std::vector<DemoRecording> day = demo_recordings(short_recordings);
    const Disk disk = demo_disk({}, short_recordings);
    const BuildResult plan = plan_image(disk);
    ASSERT_TRUE(plan.ok) << plan.error;
    ASSERT_EQ(plan.partitions.size(), 2u);
    EXPECT_NE(disk.partitions[0].sector_per_clus, disk.partitions[1].sector_per_clus);
    EXPECT_LE(plan.disk_sectors * kSectorBytes, uint64_t(2) << 30);

    const std::vector<const FilePlacement*> placed = demo_placements(plan, day);
    ASSERT_EQ(placed.size(), day.size());
    int overwritten = 0, kept = 0;
    for (size_t i = 0; i < day.size(); ++i) {
      ASSERT_NE(placed[i], nullptr) << i;
      const uint32_t header = day[i].header ? kDemoHeaderSectors : 0;
      EXPECT_EQ(placed[i]->data_sectors, header + demo_stream_bytes(day[i]) / kSectorBytes) << i;
      EXPECT_EQ(placed[i]->slot, day[i].partition);
      if (day[i].older_lap) (placed[i]->overwritten ? overwritten : kept) += 1;
    }
    EXPECT_GT(overwritten, 0) << "the current lap took the start of the older lap";
    const ParamBlock& idea1 = plan.partitions[1].params;
    EXPECT_FALSE(plan.partitions[1].collisions.empty()) << "the clock was set back";
    if (!short_recordings) {
      // Short recordings leave too few clusters past the current lap's lead to keep any.
      EXPECT_GT(kept, 4) << "the rest of the older lap is still there";
      EXPECT_EQ(idea1.lap, 1);
      EXPECT_GT(idea1.start_cluster2, idea1.current_cluster);
    }
  }
}
