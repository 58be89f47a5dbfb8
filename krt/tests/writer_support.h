// Helpers for the tests of the write side: a disk whose writes land in memory (so the images
// stay as the builder made them), a manual clock, and small writing steps.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "file_support.h"
#include "krt/clock.h"
#include "krt/disk.h"
#include "krt/driver_info.h"
#include "krt/file_write.h"
#include "krt/packed_time.h"
#include "krt/work_drivers.h"

namespace krt::test {

// Sectors written through the write hook, kept in memory and laid over the image by the read
// hook. Hooks are plain functions, so the store is process-wide; install() clears it.
class MemoryDisk {
 public:
  using Key = std::pair<uint16_t, uint64_t>;  // disk, absolute sector

  static void install() {
    store().clear();
    writes().clear();
    failing().clear();
    set_disk_hooks(DiskHooks{read, write});
  }

  // The sector as a reader sees it now (written bytes, else the image's).
  static std::vector<uint8_t> sector(uint16_t disk, uint64_t s) {
    std::vector<uint8_t> out(kSectorBytes);
    read(disk, 1, uint32_t(s), uint32_t(s >> 32), out.data());
    return out;
  }

  // Every sector written, with the number of times it was written.
  static std::map<Key, int>& writes() {
    static std::map<Key, int> w;
    return w;
  }

  // Sector ranges [first, last] of a disk whose writes fail.
  static std::vector<std::pair<Key, uint64_t>>& failing() {
    static std::vector<std::pair<Key, uint64_t>> f;
    return f;
  }

 private:
  static std::map<Key, std::vector<uint8_t>>& store() {
    static std::map<Key, std::vector<uint8_t>> s;
    return s;
  }

  static int read(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, uint8_t* buf) {
    const uint64_t first = uint64_t(hi) << 32 | lo;
    if (disk_read_sectors(disk, count, lo, hi, buf) != 0) return -1;
    for (uint16_t i = 0; i < count; ++i) {
      auto it = store().find({disk, first + i});
      if (it != store().end()) std::memcpy(buf + size_t(i) * kSectorBytes, it->second.data(), kSectorBytes);
    }
    return 0;
  }

  static int write(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, const uint8_t* buf) {
    const uint64_t first = uint64_t(hi) << 32 | lo;
    for (const auto& [from, last] : failing()) {
      if (from.first == disk && first + count > from.second && first <= last) return -1;
    }
    for (uint16_t i = 0; i < count; ++i) {
      const uint8_t* p = buf + size_t(i) * kSectorBytes;
      store()[{disk, first + i}].assign(p, p + kSectorBytes);
      ++writes()[{disk, first + i}];
    }
    return 0;
  }
};

// Tests of the writer over started images: writes land in memory, the clock is manual.
class WriterTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    MemoryDisk::install();
    use_manual_clock(kb::pack_time(2010, 3, 5, 10, 0, 0));
    set_pack_period(kDefaultPackPeriodMs / 1000);
  }
  void TearDown() override {
    krt_file_close_all();
    use_system_clock();
    FileTest::TearDown();
  }

  // Starts the library over one disk and installs the in-memory writes again (start-up may
  // have set the hooks back).
  void start_writer(const kb::Disk& disk) {
    start_ok({disk});
    MemoryDisk::install();
  }

  // A file of channel ch created now on the work driver of type 0 (with a mirror on type 3).
  static FILEHANDLE* create(uint8_t ch, bool mirror = false, uint8_t type = 0) {
    FILEHANDLE* h = nullptr;
    EXPECT_EQ(krt_file_create(0, ch, 2, type, 0, time_now(), mirror ? 1 : 0, 0, h), FS_OK);
    return h;
  }

  // n sectors whose bytes name their place: tag, sector number and byte offset.
  static std::vector<uint8_t> data(uint32_t n, uint8_t tag) {
    std::vector<uint8_t> out(size_t(n) * kSectorBytes);
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(tag * 31 + i / kSectorBytes * 7 + i);
    return out;
  }

  // Writes bytes (whole sectors) to h. Returns the write's result.
  static int write(FILEHANDLE* h, const std::vector<uint8_t>& bytes) {
    return krt_file_write(h, bytes.data(), uint32_t(bytes.size() / kSectorBytes));
  }

  // The whole recording data of the file starting at cluster c of (disk, part), read back
  // through the read side.
  static std::vector<uint8_t> read_back(int disk, int part, uint32_t c) {
    FILEHANDLE* r = open_handle();
    EXPECT_EQ(krt_file_goto_clus(r, disk, part, c), FS_OK);
    uint32_t kb = 0;
    EXPECT_EQ(krt_get_file_info2(r, nullptr, nullptr, &kb), FS_OK);
    std::vector<uint8_t> out(size_t(kb) * 2 * kSectorBytes);
    if (!out.empty()) {
      EXPECT_EQ(krt_file_read(r, out.data(), kb * 2), FS_OK);
    }
    krt_file_close(r);
    return out;
  }

  // Directory item of cluster c of driver (disk, part).
  static DirItem item(uint32_t c, int disk = 0, int part = 0) {
    DirItem i{};
    EXPECT_EQ(get_dir_item_info(*get_pdp(disk, part), c, i), FS_OK);
    return i;
  }

  static uint8_t index_byte(uint32_t c, int disk = 0, int part = 0) {
    uint8_t b = 0;
    EXPECT_EQ(get_index_item_info(*get_pdp(disk, part), c, b), FS_OK);
    return b;
  }
};

// A disk of one empty partition of 600,000 sectors with `sector_per_clus` sectors per cluster;
// total_clus, when given, keeps the partition that small (recording clusters rev_clus ..
// total_clus - 1).
inline kb::Disk empty_disk(uint32_t sector_per_clus = 64, uint32_t total_clus = 0) {
  kb::Disk disk = kb::single_partition_disk(600000, sector_per_clus);
  disk.payload.kind = kb::Payload::Kind::kNone;
  if (total_clus) disk.partitions[0].layout.total_clus = total_clus;
  return disk;
}

}  // namespace krt::test
