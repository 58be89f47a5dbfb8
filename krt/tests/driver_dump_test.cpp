// The diagnostic tables, printed to a stream, for a disk of two partitions whose times are
// known: each table's header and rows as the `krt info` command shows them.
#include "krt/driver_dump.h"

#include <cstdio>
#include <cstdlib>

#include "krt/result.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::pack_time;

class DriverDump : public test::MountTest {
 protected:
  // The tables as text.
  static std::string tables() {
    char* buf = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buf, &size);
    dump_driver_tables(out);
    std::fclose(out);
    std::string text(buf, size);
    std::free(buf);
    return text;
  }
};

// Partition 0: files 2010-03-05 08:00-09:00; partition 1 (type 1, status 0x1f): lap times
// set to 07:00-08:30, an error status of 15.
test::kb::Disk two_partitions() {
  test::kb::Disk disk = test::kb::multi_partition_disk({300000, 300000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  const uint32_t from = pack_time(2010, 3, 5, 8, 0, 0);
  disk.partitions[0].files = test::kb::recordings({0}, from, pack_time(2010, 3, 5, 9, 0, 0), 15 * 60);
  disk.partitions[1].type = 1;
  disk.partitions[1].lap = 3;
  disk.partitions[1].tweak = [](test::kb::ParamBlock& p) {
    p.start_time1 = pack_time(2010, 3, 5, 7, 0, 0);
    p.end_time1 = pack_time(2010, 3, 5, 8, 30, 0);
    p.status = 0x1f;
    p.err_state = 15;
  };
  return disk;
}

TEST_F(DriverDump, TablesOfTwoDrivers) {
  ASSERT_EQ(start({two_partitions()}), FS_OK);
  TimeSection& broken = get_pdp(0, 1)->sections[0];
  broken.start_cluster = 200;
  broken.end_cluster = 100;
  const std::string dashes(102, '-');
  const std::string want =
      "driver basic parameter:\n" + dashes + "\n" +
      "| dev.part |type|total_clus | temp_off | index_off | dir_off | data_off | rev_clus | sec/clus |status|\n" +
      dashes + "\n" +
      "|0.0 -> 0.0|   0|       4583|        24|       6400|      187|      6656|        93|        64|0x00aa|\n"
      "|0.1 -> ?.?|   1|       4583|        24|       6400|      187|      6656|        93|        64|0x001f|\n"
      "driver operation parameter:\n"
      "| dev.part | F| S|  curr  |        start1         |         end1          |        start2         |"
      "        end2           |\n"
      "|          |  |  |        |MM-DD HH:MM:SS|  clus  |MM-DD HH:MM:SS|  clus  |MM-DD HH:MM:SS|  clus  |"
      "MM-DD HH:MM:SS|  clus  |\n"
      "*0.0 -> 0.0| 0| 0|     104|03-05 08:00:00|      93|03-05 09:00:00|     104|00-00 00:00:00|       0|"
      "00-00 00:00:00|       0|\n"
      "|0.1 -> ?.?| 3| f|       0|03-05 07:00:00|      93|03-05 08:30:00|       0|00-00 00:00:00|       0|"
      "00-00 00:00:00|       0|\n"
      "driver time chart:\n"
      "|dev.part | period of time                                                 |\n"
      "|   0. 0  | __                                                             |\n"
      "|   0. 1  |__                                                              |\n"
      "driver time sections:\n"
      "|dev part |start_clus| end_clus |    start_time     |   end_time        |\n"
      "|---------|----------|----------|-------------------|-------------------|\n"
      "|   0. 0  |       93 |      104 | 10-03-05 08:00:00 | 10-03-05 09:00:00 |\n"
      "|   0. 0  |        0 |        0 | 00-00-00 00:00:00 | 00-00-00 00:00:00 |\n"
      "|---------|----------|----------|-------------------|-------------------|\n"
      "|   0. 1  |      200 |      100 | 00-00-00 00:00:00 | 00-00-00 00:00:00 |  (error)\n"
      "|   0. 1  |        0 |        0 | 00-00-00 00:00:00 | 00-00-00 00:00:00 |\n";
  EXPECT_EQ(tables(), want);
}

TEST_F(DriverDump, TimeChartKeepsTheSixtyFourEarliestTimes) {
  // 32 drivers (8 disks of 4 partitions). Driver k's current lap runs from minute k to minute
  // k + 33; drivers 0..3 also have an older lap of 10 s between minutes 31 and 33. Of the 72
  // distinct times the chart keeps the 64 earliest: minutes 0..31, the 8 older-lap times, then
  // minutes 33..56. A time past those lies past the chart's end.
  test::kb::Disk disk = test::kb::multi_partition_disk({20000, 20000, 20000, 20000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  std::vector<test::kb::Disk> disks(8, disk);
  const uint32_t day = pack_time(2010, 3, 5, 0, 0, 0);
  for (size_t d = 0; d < disks.size(); ++d) {
    for (int p = 0; p < 4; ++p) {
      const int64_t k = int64_t(d) * 4 + p;  // driver number 0..31
      disks[d].partitions[size_t(p)].tweak = [=](test::kb::ParamBlock& b) {
        b.start_time1 = test::kb::add_seconds(day, k * 60);
        b.end_time1 = test::kb::add_seconds(day, (k + 33) * 60);
        if (k < 4) {
          b.start_time2 = test::kb::add_seconds(day, 31 * 60 + 10 + 20 * k);
          b.end_time2 = test::kb::add_seconds(day, 31 * 60 + 20 + 20 * k);
        }
      };
    }
  }
  ASSERT_EQ(start(disks), FS_OK);
  const std::string text = tables();
  auto row = [](const char* dev_part, int blank, int bar) {
    return std::string("|  ") + dev_part + "  |" + std::string(size_t(blank), ' ') + std::string(size_t(bar), '_') +
           std::string(size_t(64 - blank - bar), ' ') + "|\n";
  };
  EXPECT_NE(text.find(row(" 0. 0", 0, 40)), std::string::npos) << text;   // minute 0 .. minute 33
  EXPECT_NE(text.find(row(" 0. 3", 3, 40)), std::string::npos);           // minute 3 .. minute 36
  EXPECT_NE(text.find(row(" 7. 3", 31, 33)), std::string::npos);          // minute 31 .. past the end
}

}  // namespace
}  // namespace krt
