// The record tree's copy jobs and synchronous-playback tables on two builder disks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recordsearch.h"
#include "twodisks.h"

namespace {

using apptest::CTwoDisks;
using namespace recordsearch;

class RecordSearch : public testing::Test {
 protected:
  void SetUp() override { CTwoDisks::Get().Attach(); }

  // The "/mnt" paths of the recordings of one channel folder, as listed.
  static std::vector<std::string> Paths(int disk, int slot, int y, int m, int d, int channel) {
    char folder[64];
    std::snprintf(folder, sizeof folder, "/mnt/ide%c%d/%04d-%02d-%02d/%03d/", 'a' + disk, slot, y, m, d, channel);
    std::vector<std::string> out;
    for (const std::string& name : CTwoDisks::Get().Names(disk, slot, y, m, d, channel)) out.push_back(folder + name);
    return out;
  }

  static std::string Rooted(const std::string& path) { return path.substr(5); }
};

std::vector<std::string> Joined(const std::vector<std::vector<std::string>>& parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(RecordSearch, CopyJobOfEachKindHoldsEveryRecordingBelowTheItem) {
  const std::vector<std::string> ch32 = Paths(0, 0, 2010, 3, 5, 32);
  const struct {
    int kind;
    std::string rooted;
    std::vector<std::string> paths;
  } cases[] = {
      {kindPartition, "idea2", Paths(0, 2, 2010, 3, 7, 6)},
      {kindPartition, "idea0",
       Joined({Paths(0, 0, 2010, 3, 5, 1), Paths(0, 0, 2010, 3, 5, 2), Paths(0, 0, 2010, 3, 5, 3), ch32,
               Paths(0, 0, 2010, 3, 6, 1), Paths(0, 0, 2010, 3, 6, 3), Paths(0, 0, 2010, 3, 6, 4)})},
      {kindDay, "ideb1/2010-04-02", Joined({Paths(1, 1, 2010, 4, 2, 32), Paths(1, 1, 2010, 4, 2, 41)})},
      {kindChannel, "idea0/2010-03-05/032", ch32},  // channel 32: exported as it is shown
      {kindFile, Rooted(ch32[1]), {ch32[1]}},
      {kindPartition, "idea1", {}},                 // the empty partition
      {kindFile, "idea0/2010-03-05/032/23.00.00-23.59.00[R][@7][0].h264", {}},  // gone
      {kindDay, "idea0/2010-03-05/032", {}},        // not a day
      {kindDrive, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rooted);
    const CCopyJob job = BuildCopyJob(c.kind, c.rooted);
    EXPECT_EQ(job.m_paths, c.paths);
    ASSERT_EQ(job.m_sizes.size(), c.paths.size());
    for (uint64_t size : job.m_sizes) EXPECT_GT(size, 0u);
    EXPECT_TRUE(job.m_strFolder.empty());
  }
}

TEST_F(RecordSearch, SyncPlayOfARecordingFillsEveryChannelThatStartsWithIt) {
  const std::vector<std::string> ch2 = Paths(0, 0, 2010, 3, 5, 2);
  SyncPlayTable table;
  ASSERT_EQ(BuildSyncPlayTable(kindFile, Rooted(ch2[1]), table), 32);  // channel 32 in window 31
  SyncPlayTable expected;
  expected[0] = Paths(0, 0, 2010, 3, 5, 1)[1];
  expected[1] = ch2[1];
  expected[2] = Paths(0, 0, 2010, 3, 5, 3)[1];
  expected[31] = Paths(0, 0, 2010, 3, 5, 32)[1];
  EXPECT_EQ(table, expected);
}

TEST_F(RecordSearch, SyncPlayOfADaySkipsTheMissingChannelAndHandsOverOnce) {
  // Channel 1's 07:00 file has no partner; its 08:00 file is the first that has.
  SyncPlayTable table;
  ASSERT_EQ(BuildSyncPlayTable(kindDay, "idea0/2010-03-06", table), 4);
  SyncPlayTable expected;
  expected[0] = Paths(0, 0, 2010, 3, 6, 1)[1];
  expected[2] = Paths(0, 0, 2010, 3, 6, 3)[0];
  expected[3] = Paths(0, 0, 2010, 3, 6, 4)[0];
  EXPECT_EQ(table, expected);

  // The second disk: its own partition letter.
  ASSERT_EQ(BuildSyncPlayTable(kindDay, "ideb0/2010-04-01", table), 4);
  EXPECT_EQ(table[0], Paths(1, 0, 2010, 4, 1, 1)[0]);
  EXPECT_EQ(table[3], Paths(1, 0, 2010, 4, 1, 4)[0]);

  // A day without channel 1, and a channel: nothing.
  EXPECT_EQ(BuildSyncPlayTable(kindDay, "idea2/2010-03-07", table), 0);
  EXPECT_EQ(BuildSyncPlayTable(kindChannel, "idea0/2010-03-06/001", table), 0);
}

}  // namespace
