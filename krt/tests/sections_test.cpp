// Time sections after mounting: no collisions, collisions in the current lap, an older lap,
// and a collision of the older lap still ahead of the write position.
#include "krt/sections.h"

#include "krt/mount.h"
#include "krt/result.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::add_seconds;
using test::kb::pack_time;

// A section as expected: clusters relative to rev_clus, times packed.
struct Want {
  uint32_t start_cluster;  // + rev_clus
  uint32_t end_cluster;    // + rev_clus
  uint32_t start_time;
  uint32_t end_time;
};

struct SectionCase {
  const char* name;
  std::vector<test::kb::File> files;
  std::vector<test::kb::File> older_lap;
  uint32_t cur_section;
  std::vector<Want> sections;  // sections 0 .. coll_count + 1
};

using test::joined;
using test::run_of_files;

class Sections : public test::MountTest {};

TEST_F(Sections, FollowTheClustersOfThePartition) {
  const uint32_t t8 = pack_time(2010, 3, 5, 8, 0, 0);
  const uint32_t t9 = pack_time(2010, 3, 5, 9, 0, 0);
  const uint32_t t10 = pack_time(2010, 3, 5, 10, 0, 0);
  const uint32_t t11 = pack_time(2010, 3, 5, 11, 0, 0);
  const uint32_t t9_30 = pack_time(2010, 3, 5, 9, 30, 0);
  const uint32_t d3 = pack_time(2010, 3, 3, 0, 0, 0);
  const uint32_t d3_12 = pack_time(2010, 3, 3, 12, 0, 0);
  const uint32_t d4_12 = pack_time(2010, 3, 4, 12, 0, 0);
  const uint32_t d5 = pack_time(2010, 3, 5, 0, 0, 0);
  const uint32_t five_min = 300;
  const SectionCase cases[] = {
      {"nothing recorded", {}, {}, 0, {{0, 0, 0, 0}, {0, 0, 0, 0}}},
      {"no collisions", run_of_files(t8, t9), {}, 0, {{0, 11, t8, t9}, {0, 0, 0, 0}}},
      {"clock set back in the current lap",
       joined(run_of_files(t10, t11, 1), run_of_files(t9, t9_30, 2)),
       {},
       1,
       {{0, 11, t10, t11}, {12, 17, t9, t9_30}, {0, 0, 0, 0}}},
      {"clock set back just before the last cluster written",
       joined(run_of_files(t10, t11, 1), run_of_files(t9, add_seconds(t9, five_min), 2)),
       {},
       1,
       {{0, 11, t10, t11}, {12, 12, t9, add_seconds(t9, five_min)}, {0, 0, 0, 0}}},
      {"older lap", run_of_files(t8, t9), run_of_files(d3, d5), 0,
       {{0, 11, t8, t9}, {12, 575, add_seconds(d3, 12 * five_min), d5}}},
      {"older lap with a collision ahead", run_of_files(t8, t9),
       joined(run_of_files(d3_12, d4_12, 1), run_of_files(d3, d3_12, 2)), 0,
       {{0, 11, t8, t9}, {12, 287, add_seconds(d3_12, 12 * five_min), d4_12}, {288, 431, d3, d3_12}}},
  };
  for (const SectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    test::kb::Disk disk = test::small_disk();
    disk.partitions[0].files = c.files;
    disk.partitions[0].older_lap = c.older_lap;
    ASSERT_EQ(start({disk}), FS_OK);
    const DriverParam* p = get_pdp(0, 0);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->coll_count + 2, c.sections.size());
    EXPECT_EQ(p->cur_section, c.cur_section);
    const uint32_t rev = p->rev_clus;
    for (size_t i = 0; i < c.sections.size(); ++i) {
      SCOPED_TRACE(i);
      const Want& w = c.sections[i];
      const TimeSection& s = p->sections[i];
      const bool zero = w.end_cluster == 0;
      EXPECT_EQ(s.start_cluster, zero ? 0 : w.start_cluster + rev);
      EXPECT_EQ(s.end_cluster, zero ? 0 : w.end_cluster + rev);
      EXPECT_EQ(s.start_time, w.start_time);
      EXPECT_EQ(s.end_time, w.end_time);
      EXPECT_TRUE(section_valid(s));
    }
    for (int i = 0; i < kSectionsPerDriver; ++i) EXPECT_EQ(p->sections[i].owner, p);
    for (size_t i = c.sections.size(); i < size_t(kSectionsPerDriver); ++i) {
      EXPECT_EQ(p->sections[i].end_cluster, 0u);
    }
  }
}

TEST_F(Sections, RefreshFollowsAMovedWritePosition) {
  test::kb::Disk disk = test::small_disk();
  const uint32_t t8 = pack_time(2010, 3, 5, 8, 0, 0);
  disk.partitions[0].files = run_of_files(t8, pack_time(2010, 3, 5, 10, 0, 0));
  ASSERT_EQ(start({disk}), FS_OK);
  DriverParam& p = *get_pdp(0, 0);
  p.current_cluster = p.rev_clus + 11;  // as if the writer stood at 09:00
  refresh_current_section(p);
  EXPECT_EQ(p.sections[0].end_cluster, p.rev_clus + 11);
  EXPECT_EQ(p.sections[0].end_time, pack_time(2010, 3, 5, 9, 0, 0));
  p.cur_section = 500;  // out of range: nothing happens
  refresh_current_section(p);
  EXPECT_EQ(p.sections[0].end_cluster, p.rev_clus + 11);
}

}  // namespace
}  // namespace krt
