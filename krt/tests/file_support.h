// Helpers for the tests of the file layer: started images, open handles and the bytes the
// builder wrote for a file.
#pragma once

#include <cstring>
#include <vector>

#include "krt/file.h"
#include "krt/file_search.h"
#include "mount_support.h"

namespace krt::test {

// Tests over started images; every test ends with the handle table's rules intact.
class FileTest : public MountTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(file_handles_check(), "");
    MountTest::TearDown();
  }

  // Starts the library over the disks, expecting success.
  void start_ok(const std::vector<kb::Disk>& disks) {
    const int r = start(disks);
    ASSERT_TRUE(r == FS_OK || r == kFsNoHealthyDriver) << r;
  }

  // A handle open for reading, not yet positioned (null after a failed assertion).
  static FILEHANDLE* open_handle() {
    FILEHANDLE* h = nullptr;
    EXPECT_EQ(krt_file_open(h, 0, 0), FS_OK);
    return h;
  }

  // A handle on the first cluster of a file the builder placed on (disk, part).
  static FILEHANDLE* open_file(const kb::FilePlacement& f, int disk = 0) {
    FILEHANDLE* h = open_handle();
    if (h) {
      EXPECT_EQ(krt_file_goto_clus(h, disk, f.slot, f.first_cluster), FS_OK);
    }
    return h;
  }

  // Sectors [from, from + n) of the file's recording data as the builder wrote them.
  static std::vector<uint8_t> file_sectors(const kb::FilePlacement& f, uint32_t from, uint32_t n) {
    const std::vector<uint8_t> all = kb::expected_bytes(f);
    const size_t a = std::min<size_t>(size_t(from) * kSectorBytes, all.size());
    const size_t b = std::min<size_t>(size_t(from + n) * kSectorBytes, all.size());
    return std::vector<uint8_t>(all.begin() + a, all.begin() + b);
  }

  // The position of h in sectors.
  static uint32_t tell(FILEHANDLE* h) {
    uint32_t sectors = 0xDEAD;
    EXPECT_EQ(krt_file_tell(h, &sectors), FS_OK);
    return sectors;
  }
};

// Files of channels `channels` from 2010-03-05 hh:00 for `minutes`, `file_minutes`-minute
// files with one cluster per five minutes; every file's last cluster holds `end_length`
// sectors.
inline std::vector<kb::File> files_of(const std::vector<uint8_t>& channels, int hour, int minutes,
                                      int file_minutes, uint16_t end_length) {
  kb::File model;
  model.end_length = end_length;
  const uint32_t from = kb::pack_time(2010, 3, 5, hour, 0, 0);
  return kb::recordings(channels, from, kb::add_seconds(from, minutes * 60), file_minutes * 60, model);
}

// Channels 0-2 in 15-minute files of three 5-minute clusters from 08:00 to 08:45 on one
// partition of 600,000 sectors with 64 sectors per cluster and the pattern payload: the clusters
// of the three channels interleave (files[3k + ch] is file k of channel ch).
inline kb::Disk interleaved_disk(uint16_t end_length) {
  kb::Disk disk = kb::single_partition_disk(600000, 64);
  disk.partitions[0].files = files_of(kb::channel_range(0, 2), 8, 45, 15, end_length);
  return disk;
}

}  // namespace krt::test
