// Recording-side driver transitions over mounted images: the write position moving on, the
// older lap moving ahead of it and being dropped, collisions reached and deleted, a full
// partition wrapping or handing over to the next of its ring, and clock changes.
//
// After each transition the in-memory time sections must be what mounting would build from
// the saved state (build_sections), so a reader sees the same sections with or without a
// remount.
#include "krt/driver_transitions.h"

#include <cstring>
#include <ostream>

#include "krt/clock.h"
#include "krt/dir_index.h"
#include "krt/disk_io.h"
#include "krt/endian.h"
#include "krt/file_write.h"
#include "krt/mount.h"
#include "krt/packed_time.h"
#include "krt/result.h"
#include "krt/sections.h"
#include "krt/work_drivers.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::add_seconds;
using test::kb::pack_time;

constexpr uint32_t kFiveMinutes = 300;
const uint32_t t8 = pack_time(2010, 3, 5, 8, 0, 0);
const uint32_t t9 = pack_time(2010, 3, 5, 9, 0, 0);
const uint32_t t10 = pack_time(2010, 3, 5, 10, 0, 0);
const uint32_t t11 = pack_time(2010, 3, 5, 11, 0, 0);

using test::joined;
using test::run_of_files;

// The parts of a time section that describe the partition.
struct Span {
  uint32_t start_cluster, end_cluster, start_time, end_time;
  bool operator==(const Span& o) const {
    // A section not in use, or one whose clusters are an empty run, is told by its clusters
    // alone: its times mean nothing.
    const bool empty = end_cluster == 0 || start_cluster > end_cluster;
    if (empty || o.end_cluster == 0 || o.start_cluster > o.end_cluster) {
      return start_cluster == o.start_cluster && end_cluster == o.end_cluster;
    }
    return start_cluster == o.start_cluster && end_cluster == o.end_cluster &&
           start_time == o.start_time && end_time == o.end_time;
  }
};
std::ostream& operator<<(std::ostream& os, const Span& s) {
  return os << "[" << s.start_cluster << ".." << s.end_cluster << " " << std::hex << s.start_time
            << ".." << s.end_time << std::dec << "]";
}

std::vector<Span> spans(const DriverParam& p) {
  std::vector<Span> out;
  for (int i = 0; i < kSectionsPerDriver; ++i) {
    const TimeSection& s = p.sections[i];
    out.push_back({s.start_cluster, s.end_cluster, s.start_time, s.end_time});
  }
  return out;
}

// Checks that p's sections and cur_section are those that mounting builds from p's state.
void expect_sections_as_mounted(DriverParam& p) {
  const std::vector<Span> live = spans(p);
  const uint32_t live_section = p.cur_section;
  build_sections(p);
  EXPECT_EQ(live, spans(p));
  EXPECT_EQ(live_section, p.cur_section);
}

uint32_t collision_at(const DriverParam& p, uint32_t i) { return ld32(p.coll_copy + 4 * i); }

// The events emitted since the test started.
std::vector<std::string>& events() { return test::EventRecorder::events(); }

class Transitions : public test::MountTest {
 protected:
  void SetUp() override {
    MountTest::SetUp();
    use_manual_clock(t11);
    test::EventRecorder::install();
  }
  void TearDown() override {
    use_system_clock();
    MountTest::TearDown();
  }

  // Mounts one small partition holding `files` (and an older lap).
  DriverParam& mount(const std::vector<test::kb::File>& files,
                     const std::vector<test::kb::File>& older_lap = {}) {
    test::kb::Disk disk = test::small_disk();
    disk.partitions[0].files = files;
    disk.partitions[0].older_lap = older_lap;
    EXPECT_EQ(start({disk}), FS_OK);
    return *get_pdp(0, 0);
  }

  // Takes cluster c for a new channel-0 file at time t, as the writer does: a fresh first
  // item and index byte, then the write position moves there.
  static int take(DriverParam& p, uint32_t c, uint32_t t) {
    DirItem item{};
    item.dir_flag = kDirFlagFirst;
    item.down_cluster_no = kNoNextCluster;
    item.start_time = item.end_time = t;
    item.first_cluster_no = c;
    EXPECT_EQ(set_dir_item_info(p, c, item, false), FS_OK);
    uint8_t byte = 0;
    make_index_item(byte, 0, kIndexFlagFirst);
    EXPECT_EQ(set_index_item_info(p, c, byte, false), FS_OK);
    return set_current_cluster(p, c);
  }
};

TEST_F(Transitions, OlderLapStaysAheadOfTheWritePositionUntilItIsReached) {
  const uint32_t d3 = pack_time(2010, 3, 3, 0, 0, 0);
  DriverParam& p = mount(run_of_files(t8, t9), run_of_files(d3, pack_time(2010, 3, 5, 0, 0, 0)));
  const uint32_t rev = p.rev_clus;
  ASSERT_EQ(p.current_cluster, rev + 11);
  ASSERT_EQ(p.end_cluster2, rev + 575);
  ASSERT_EQ(p.status, kStatusClean);

  ASSERT_EQ(take(p, rev + 12, t9), FS_OK);
  EXPECT_EQ(p.current_cluster, rev + 12);
  EXPECT_EQ(p.status, 0u);  // recording in progress
  EXPECT_EQ(p.start_cluster2, rev + 12 + kOlderLapGap);
  expect_sections_as_mounted(p);

  uint32_t t = t9;
  for (uint32_t c = rev + 13; c <= rev + 575 - kOlderLapGap; ++c) {
    t = add_seconds(t, kFiveMinutes);
    ASSERT_EQ(take(p, c, t), FS_OK);
    EXPECT_EQ(p.start_cluster2, c + kOlderLapGap < rev + 575 ? c + kOlderLapGap : 0);
  }
  // The current lap has caught up with the older lap's end: the older lap is gone.
  EXPECT_EQ(p.start_cluster2, 0u);
  EXPECT_EQ(p.end_cluster2, 0u);
  EXPECT_EQ(p.end_time2, 0u);
  expect_sections_as_mounted(p);
  for (uint32_t c = rev + 576 - kOlderLapGap; c < 520; ++c) ASSERT_EQ(take(p, c, t = add_seconds(t, kFiveMinutes)), FS_OK);
  // The block was saved at cluster 511 and not since.
  EXPECT_EQ(p.saved_cluster, 511u);
}

TEST_F(Transitions, ReachedCollisionOfTheOlderLapIsDeleted) {
  const uint32_t d3 = pack_time(2010, 3, 3, 0, 0, 0);
  const uint32_t d3_12 = pack_time(2010, 3, 3, 12, 0, 0);
  DriverParam& p = mount(run_of_files(t8, t9), joined(run_of_files(d3_12, pack_time(2010, 3, 4, 12, 0, 0), 1),
                                                      run_of_files(d3, d3_12, 2)));
  const uint32_t rev = p.rev_clus;
  ASSERT_EQ(p.coll_count, 1u);
  ASSERT_EQ(collision_at(p, 0), rev + 288);
  uint32_t t = t9;
  for (uint32_t c = rev + 12; c < rev + 288; ++c) {
    ASSERT_EQ(take(p, c, t = add_seconds(t, kFiveMinutes)), FS_OK);
    if (c == rev + 100) expect_sections_as_mounted(p);
  }
  EXPECT_EQ(p.coll_count, 1u);
  expect_sections_as_mounted(p);
  ASSERT_EQ(take(p, rev + 288, add_seconds(t, kFiveMinutes)), FS_OK);
  EXPECT_EQ(p.coll_count, 0u);
  EXPECT_EQ(collision_at(p, 0), 0u);
  EXPECT_EQ(p.dirty, 0) << "the changed collision table is saved at once";
  EXPECT_EQ(p.saved_cluster, rev + 288);
  expect_sections_as_mounted(p);
}

TEST_F(Transitions, NewCollisionStartsASectionAtTheNextCluster) {
  DriverParam& p = mount(run_of_files(t10, t11));
  const uint32_t rev = p.rev_clus;
  ASSERT_EQ(p.current_cluster, rev + 11);
  const uint32_t old_end = p.end_time1;
  ASSERT_TRUE(set_collision(p, t9));
  EXPECT_EQ(p.coll_count, 1u);
  EXPECT_EQ(p.cur_section, 1u);
  EXPECT_EQ(p.dirty, 1);
  EXPECT_EQ(collision_at(p, 0), rev + 12);
  EXPECT_EQ(p.sections[0].end_cluster, rev + 11);
  EXPECT_EQ(p.sections[0].end_time, old_end);
  EXPECT_EQ(p.sections[1].start_cluster, rev + 12);
  EXPECT_EQ(p.sections[1].start_time, t9);
  p.end_time1 = t9;
  ASSERT_EQ(take(p, rev + 12, t9), FS_OK);
  EXPECT_EQ(p.dirty, 0);
  EXPECT_EQ(p.coll_count, 1u) << "a collision of the current lap stays";
  expect_sections_as_mounted(p);
}

TEST_F(Transitions, CollisionTableHoldsAtMost128) {
  DriverParam& p = mount(run_of_files(t10, t11));
  p.coll_count = 127;
  p.cur_section = 127;
  ASSERT_TRUE(set_collision(p, t9));
  EXPECT_EQ(p.coll_count, 128u);
  EXPECT_EQ(collision_at(p, 127), p.current_cluster + 1);

  const DriverParam before = p;
  uint8_t table[kSectorBytes];
  std::memcpy(table, p.coll_copy, sizeof table);
  const std::vector<Span> sections = spans(p);
  test::LogCapture log;
  EXPECT_FALSE(set_collision(p, t8));
  EXPECT_NE(log.text().find("FSError Too many time collisions in work driver, new collision will not be processed"),
            std::string::npos);
  EXPECT_EQ(p.coll_count, before.coll_count);
  EXPECT_EQ(p.cur_section, before.cur_section);
  EXPECT_EQ(std::memcmp(table, p.coll_copy, sizeof table), 0);
  EXPECT_EQ(spans(p), sections);
}

TEST_F(Transitions, LoneFullDriverWrapsOntoItself) {
  // Two runs: a collision at rev + 12 in the lap that is about to become the older lap.
  DriverParam& p = mount(joined(run_of_files(t10, t11, 1), run_of_files(t9, pack_time(2010, 3, 5, 9, 30, 0), 2)));
  const uint32_t rev = p.rev_clus;
  const uint32_t last = p.total_clus - 1;
  ASSERT_EQ(take(p, last, t11), FS_OK);
  p.lap = 255;
  uint32_t last_end = 0;
  ASSERT_EQ(get_dir_item_time1(p, last, last_end), FS_OK);
  const uint32_t now = pack_time(2010, 3, 6, 7, 0, 0);
  set_clock_time(now);

  ASSERT_EQ(change_work_driver(p), FS_OK);
  EXPECT_EQ(p.lap, 1) << "255 wraps to 1";
  EXPECT_EQ(p.status, 0u);
  EXPECT_EQ(p.current_cluster, rev - 1);
  EXPECT_EQ(p.start_cluster2, rev + 255);
  EXPECT_EQ(p.end_cluster2, last);
  EXPECT_EQ(p.end_time2, last_end);
  EXPECT_EQ(p.start_time1, now);
  EXPECT_EQ(p.end_time1, now);
  EXPECT_EQ(p.cur_section, 0u);
  EXPECT_EQ(work_driver(0), &p);
  EXPECT_EQ(p.sections[1].start_cluster, rev) << "the old lap's first section moved up";

  ASSERT_EQ(take(p, rev, now), FS_OK);
  EXPECT_EQ(p.start_cluster2, rev + kOlderLapGap);
  EXPECT_EQ(p.start_time1, now);
  EXPECT_EQ(p.coll_count, 1u);
  expect_sections_as_mounted(p);
}

// Two partitions of type 0 in one ring: the first ends at 09:00, the second (the work driver)
// at 10:00.
struct HandOverCase {
  const char* name;
  uint32_t now;          // clock when the second partition fills up
  bool first_full;       // the first partition's write position is near its end
  uint32_t collisions;   // on the first partition afterwards
  bool new_lap;          // the first partition starts a new lap
};

TEST_F(Transitions, FullDriverHandsOverToTheNextOfItsRing) {
  const HandOverCase cases[] = {
      {"later clock", t11, false, 0, false},
      {"clock before the next driver's end", t8, false, 1, false},
      {"next driver full as well", t11, true, 0, true},
  };
  for (const HandOverCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    test::kb::Disk disk = test::kb::multi_partition_disk({300000, 300000}, 64);
    disk.payload.kind = test::kb::Payload::Kind::kNone;
    disk.partitions[0].files = run_of_files(t8, t9);
    disk.partitions[1].files = run_of_files(t9, t10);
    ASSERT_EQ(start({disk}), FS_OK);
    DriverParam& first = *get_pdp(0, 0);
    DriverParam& second = *get_pdp(0, 1);
    ASSERT_EQ(work_driver(0), &second);
    if (c.first_full) first.current_cluster = first.total_clus - kOlderLapGap;
    const uint32_t first_current = first.current_cluster;
    const uint8_t second_lap = second.lap;
    set_clock_time(c.now);

    ASSERT_EQ(change_work_driver(second), FS_OK);
    EXPECT_EQ(work_driver(0), &first);
    EXPECT_EQ(second.lap, second_lap + 1);
    EXPECT_EQ(second.status, kStatusClean);
    EXPECT_EQ(second.end_time1, t10);
    EXPECT_EQ(access_stamp(0).timeout_ms, uint32_t(kStandbyMinutesAfterUse) * 60000);
    EXPECT_EQ(first.status, 0u);
    EXPECT_EQ(first.coll_count, c.collisions);
    if (c.collisions) {
      EXPECT_EQ(collision_at(first, 0), first_current + 1);
    }
    EXPECT_EQ(first.start_cluster2, c.new_lap ? first.rev_clus + 255 : 0);
    EXPECT_EQ(first.current_cluster, c.new_lap ? first.rev_clus - 1 : first_current);
    EXPECT_EQ(first.saved_cluster, first.current_cluster) << "the new work driver is saved";
  }
}

struct ClockCase {
  const char* name;
  int32_t seconds;     // new time - end_time1
  bool collision;      // a collision is set
  const char* event;   // the event emitted, or null
};

TEST_F(Transitions, ClockChanges) {
  const ClockCase cases[] = {
      {"same second", 0, false, nullptr},
      {"next second", 1, false, nullptr},
      {"back ten seconds", -10, false, nullptr},
      {"back eleven seconds", -11, true, "TimeChanged -11S"},
      {"forward two hours", 7200, false, nullptr},
      {"forward two hours and a second", 7201, false, "TimeChanged 7201S"},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    DriverParam& p = mount(run_of_files(t10, t11));
    ASSERT_EQ(p.end_time1, t11);
    const uint32_t now = add_seconds(t11, c.seconds);
    ASSERT_EQ(time_changed(p, now), FS_OK);
    EXPECT_EQ(p.end_time1, now);
    EXPECT_EQ(p.coll_count, c.collision ? 1u : 0u);
    EXPECT_EQ(events(), c.event ? std::vector<std::string>{c.event} : std::vector<std::string>{});
  }
}

TEST_F(Transitions, ClockChangeOfAFreshDriverIsNoJump) {
  DriverParam& p = mount({});
  ASSERT_EQ(p.end_time1, 0u);
  ASSERT_EQ(time_changed(p, t10), FS_OK);
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(p.end_time1, t10);
}

TEST_F(Transitions, MovingClockRestartsTheFileCounter) {
  DriverParam& p = mount(run_of_files(t10, t11));
  DirItem item{};
  auto next_repeat = [&] {
    init_dir_item(item, 0, 2, 0, 0, kDirFlagFirst, 0, 0, 0, 0);
    return item.repeat_no;
  };
  time_changed(p, add_seconds(t11, 1));
  EXPECT_EQ(next_repeat(), 0);
  EXPECT_EQ(next_repeat(), 1);
  time_changed(p, add_seconds(t11, 1));  // the same second: the counter goes on
  EXPECT_EQ(next_repeat(), 2);
  time_changed(p, add_seconds(t11, 2));
  EXPECT_EQ(next_repeat(), 0);
}

}  // namespace
}  // namespace krt
