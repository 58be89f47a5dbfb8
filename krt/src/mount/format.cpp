// Formatting a partition (re-initialising a whole disk, clear_driver, sits with the mount).
//
// A format writes in three ways: the parameter block and the collision table through the
// cache; the user-data area, both directory copies and the cluster index as runs of zeros with
// direct transfers (the areas are far larger than the cache); and the reserved clusters' marks
// (directory flag 0xFE, index flag 3) through the cache again. After a run of zeros the cached
// copies of its sectors are zeroed too, and the marked sectors are built from zeros rather than
// read back, so the cache always shows the formatted state, also when the write hook discards.
#include "krt/format.h"

#include <cstring>
#include <mutex>

#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/disk_io.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/partition.h"
#include "krt/restore.h"
#include "krt/result.h"
#include "krt/userdata.h"

namespace krt {
namespace {

constexpr uint32_t kDirFlagOffset = offsetof(DirItemDisk, dir_flag);

// Writes zeros over sectors start .. start + sectors - 1 of disk in direct transfers of the io
// scratch buffer's 16 sectors (the last one shorter), after writing back the disk's dirty
// buffers; then zeroes the cached copies of those sectors. Returns 0 or FS_IO_ERROR.
int zero_run(int disk, uint64_t start, uint64_t sectors) {
  uint8_t* zeros = io_scratch();
  std::memset(zeros, 0, size_t(kIoScratchSectors) * kSectorBytes);
  bflush(disk);
  for (uint64_t done = 0; done < sectors; done += kIoScratchSectors) {
    const uint64_t left = sectors - done;
    const uint16_t count = uint16_t(left < kIoScratchSectors ? left : kIoScratchSectors);
    if (disk_io_write(disk, count, start + done, zeros) != 0) return FS_IO_ERROR;
  }
  bzero_cached(disk, start, sectors);
  return FS_OK;
}

// Sets byte `field` of each of the first `items` records of `item_bytes` bytes in the area at
// `start` (just zeroed) to `value`, one cached sector at a time; the sectors are marked dirty.
// Returns 0 or FS_IO_ERROR when the cache gives no buffer.
int mark_items(int disk, uint64_t start, uint64_t items, uint32_t item_bytes, uint32_t field,
               uint8_t value) {
  const uint32_t per_sector = kSectorBytes / item_bytes;
  for (uint64_t first = 0; first < items; first += per_sector) {
    HeldBuf b(getblk(disk, start + first / per_sector));
    if (!b) return FS_IO_ERROR;
    if (!b->valid) bclear(b.get());
    const uint64_t end = std::min<uint64_t>(items, first + per_sector);
    for (uint64_t i = first; i < end; ++i) b->data[(i - first) * item_bytes + field] = value;
    bdirty(b.get());
  }
  return FS_OK;
}

// Clears one directory copy and marks its first rev_clus items reserved.
int init_dir_copy(int disk, uint64_t start, uint32_t rev_clus, uint32_t dir_size) {
  if (const int r = zero_run(disk, start, dir_size); r != FS_OK) return r;
  const uint64_t items = std::min<uint64_t>(rev_clus, uint64_t(dir_size) * kDirItemsPerSector);
  return mark_items(disk, start, items, sizeof(DirItemDisk), kDirFlagOffset, kDirFlagReserved);
}

// Whether P is a non-zero power of two.
bool power_of_two(uint32_t p) { return p != 0 && (p & (p - 1)) == 0; }

// The parameter block of a fresh partition at absolute sector `start` of `disk`.
DriverParam fresh_driver(int disk, uint64_t start, const AreaLayout& l) {
  DriverParam p{};
  p.status = kStatusClean;
  p.sector_bytes = kSectorBytes;
  p.sector_per_clus = l.sector_per_clus;
  p.rev_clus = l.rev_clus;
  p.index_off = l.index_off;
  p.temp_off = kTempOff;
  p.dir_off = kFirstDirStartSec;
  p.second_dir = l.second_dir;
  p.data_off = l.data_off;
  p.total_clus = l.total_clus;
  p.coll_sec = kCollSec;
  p.start_sector = start;
  p.dev = disk;
  p.ud_start = l.ud_start;
  p.ud_item_size = kUdItemSize;
  p.ud_items = kUdItems;
  p.ud_first_item = 1;
  p.ud_last_item = 1;
  p.reserve_a_start = l.reserve_a_start;
  p.reserve_a_size = l.reserve_a_size;
  p.reserve_b_start = l.reserve_b_start;
  p.reserve_b_size = l.reserve_b_size;
  return p;
}

}  // namespace

int init_dir_area(int disk, uint64_t first_start, uint64_t second_start, uint32_t rev_clus,
                  uint32_t dir_size) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (const uint64_t start : {first_start, second_start}) {
    if (start == 0) continue;
    if (const int r = init_dir_copy(disk, start, rev_clus, dir_size); r != FS_OK) return r;
  }
  return FS_OK;
}

int init_index_area(int disk, uint64_t index_start, uint32_t rev_clus, uint32_t index_size) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (index_start == 0) return FS_OK;
  if (const int r = zero_run(disk, index_start, index_size); r != FS_OK) return r;
  const uint64_t items = std::min<uint64_t>(rev_clus, uint64_t(index_size) * kIndexBytesPerSector);
  return mark_items(disk, index_start, items, 1, 0, kIndexFlagBad);
}

int krt_format_driver(int disk, int part, uint32_t sector_per_clus) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("krt_format_driver(disk_no = %d, part = %d, sector_per_clus = %d)\n", disk, part,
            int(sector_per_clus));
  disk_activate(disk);
  stamp_disk_access(disk);
  if (part < 0 || part >= kMaxPartitions || !power_of_two(sector_per_clus)) {
    log_trace("krt_format_driver bad parameter\n");
    return 1;
  }
  Partition table[kMaxPartitions] = {};
  if (krt_read_partitions(disk, table, kMaxPartitions) != FS_OK) {
    log_warn("cannot re-initialise partition %d of disk %d: the partition table cannot be read\n", part, disk);
    return 1;
  }
  const uint64_t size = table[part].size;
  const uint64_t start = table[part].start;
  AreaLayout l{};
  if (size == 0 || !compute_layout(size, sector_per_clus, l)) {
    log_warn("cannot re-initialise partition %d of disk %d: no layout fits its %llu sectors\n", part, disk,
             static_cast<unsigned long long>(size));
    return 1;
  }
  DriverParam pdp = fresh_driver(disk, start, l);
  if (!ud_area_fits(pdp)) {
    log_warn("cannot re-initialise partition %d of disk %d: its %llu sectors are too few for the "
             "user-data area (%u reserved)\n",
             part, disk, static_cast<unsigned long long>(size), l.rev_clus * sector_per_clus);
    return 1;
  }
  copy_index(disk, part, true);  // a mounted partition keeps its old index in its last cluster

  log_trace("total_cluster:%d Sectors\n", int(l.total_clus));
  log_trace("dir_size:%d Sectors\n", int(l.dir_size));
  log_trace("index_size:%d Sectors\n", int(l.index_size));
  log_trace("data_offset:%d Sectors\n", int(l.data_off));

  HeldBuf block(bread(disk, start + kTempOff));
  if (!block) return FS_IO_ERROR;
  if (const int r = init_ud_area(pdp); r != FS_OK) return r;
  std::memset(block->data, 0, kSectorBytes);
  encode_driver_param(pdp, block->data);
  bdirty(block.get());
  if (bwrite(block.get()) != 0) return FS_IO_ERROR;
  block.reset();

  HeldBuf coll(bread(disk, start + kCollSec));
  if (!coll) return FS_IO_ERROR;
  std::memset(coll->data, 0, kSectorBytes);
  bdirty(coll.get());  // written with the flush at the end
  coll.reset();
  if (const int r = init_dir_area(disk, start + kFirstDirStartSec, start + l.second_dir,
                                  l.rev_clus, l.dir_size);
      r != FS_OK) {
    log_info("Error %d : init_dir_area(disk_no, start_sector + FIRST_DIR_START_SEC, start_sector "
             "+ second_dir, rev_clus, dir_size)\n",
             r);
    return r;
  }
  if (const int r = init_index_area(disk, start + l.index_off, l.rev_clus, l.index_size);
      r != FS_OK) {
    log_info("Error %d : init_index_area(disk_no, start_sector + index_offset, rev_clus, "
             "index_size)\n",
             r);
    return r;
  }
  bflush(disk);
  return FS_OK;
}

}  // namespace krt
