// The library's repair tools: index rebuild, removal of bad disks, index and directory backups.
#include <algorithm>
#include <cinttypes>
#include <mutex>

#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/disk_io.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/mount.h"
#include "krt/pdp.h"
#include "krt/restore.h"
#include "krt/result.h"
#include "krt/work_drivers.h"
#include "restore_internal.h"

namespace krt {
namespace {

constexpr uint64_t kDirBackupFirst = 187;       // first absolute sector saved by backup_dir
constexpr uint64_t kDirBackupEnd = 20000;       // copy steps start below this sector
constexpr uint64_t kDirBackupAlign = 4096;      // the backup range starts on this boundary
constexpr uint64_t kDirBackupFromEnd = 5;       // ... this many boundaries before the disk end

// Copies count sectors from absolute sector `from` to `to` of disk through the io scratch
// buffer, kIoScratchSectors at a time. Returns 0, FS_READ_FAIL or FS_IO_ERROR.
int copy_sectors(int disk, uint64_t from, uint64_t to, uint64_t count) {
  uint8_t* buf = io_scratch();
  for (uint64_t i = 0; i < count; i += kIoScratchSectors) {
    const uint16_t n = uint16_t(std::min<uint64_t>(kIoScratchSectors, count - i));
    if (disk_io_read(disk, n, from + i, buf) != 0) return FS_READ_FAIL;
    if (disk_io_write(disk, n, to + i, buf) != 0) return FS_IO_ERROR;
  }
  return FS_OK;
}

// Makes cluster c's index byte agree with its directory item. Returns false when the walk
// over the clusters ends here: an accessor failed or the cluster was never written.
bool repair_cluster(const DriverParam& pdp, uint32_t c) {
  DirItem item{};
  if (get_dir_item_info(pdp, c, item) != FS_OK || item.dir_flag == kDirFlagNever) return false;
  const uint8_t flag = index_flag_for(item.dir_flag, c);
  uint8_t stored = 0;
  if (get_index_item_info(pdp, c, stored) != FS_OK) return false;
  if (index_channel(stored) == item.channel && index_flag(stored) == flag) return true;
  uint8_t byte = 0;
  make_index_item(byte, item.channel, flag);
  return set_index_item_info(pdp, c, byte, false) == FS_OK;
}

}  // namespace

int repair_driver(int disk, int part) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DriverParam* pdp = get_pdp(disk, part);
  if (!pdp) return 1;
  log_trace("try to repair driver (%d, %d)\n", disk, part);
  if (pdp->index_off != 0) {
    for (uint64_t c = pdp->rev_clus; c <= pdp->total_clus && repair_cluster(*pdp, uint32_t(c)); ++c) {
    }
  }
  pdp->restore_from = pdp->current_cluster;
  pdp->err_state = 0;
  save_pdp(*pdp);
  return 0;
}

int remove_bad_disks(DiskErrorReport& report) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  report = disk_error_report();
  clear_disk_error_report();
  for (int i = 0; i < kMaxDrivers; ++i) {
    DriverParam& p = *driver_slot(i);
    if (!driver_in_use(p) || p.err_state == 0 || !p.next_drv) continue;
    log_warn("remove bad disk %d %d\n", p.dev, p.part);
    p.err_state = kErrStateDiskError;
    unlink_from_ring(p);
    save_pdp(p);
  }
  if (report.bad_mask != 0) rebuild_work_drivers();
  return report.read_mask != 0 || report.write_mask != 0 ? int(kErrStateDiskError) : FS_OK;
}

int copy_index(int disk, int part, bool to_backup) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  bflush(disk);
  const DriverParam* pdp = get_pdp(disk, part);
  if (!pdp) return 1;
  if (pdp->index_off == 0 || pdp->data_off <= pdp->index_off) return FS_OK;
  const uint32_t size = pdp->data_off - pdp->index_off;
  // The copy lands in the last cluster: it must hold the whole index.
  if (pdp->total_clus == 0 || size > pdp->sector_per_clus) return FS_OUT_OF_RANGE;
  const uint64_t index = pdp->start_sector + pdp->index_off;
  const uint64_t last_cluster =
      pdp->start_sector + pdp->data_off + uint64_t(pdp->total_clus - 1) * pdp->sector_per_clus;
  log_trace("copy_index : size=%u,offset1=%llu,offset2=%llu\n", size, static_cast<unsigned long long>(index),
            static_cast<unsigned long long>(last_cluster));
  return to_backup ? copy_sectors(disk, index, last_cluster, size)
                   : copy_sectors(disk, last_cluster, index, size);
}

int backup_dir(int disk, bool to_backup) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const DiskInfo info = startup_disk_info();
  if (disk < 0 || disk >= info.ide_num) return FS_OUT_OF_RANGE;
  bflush(disk);
  const uint64_t steps = (kDirBackupEnd - kDirBackupFirst + kIoScratchSectors - 1) / kIoScratchSectors;
  const uint64_t size = steps * kIoScratchSectors;
  const uint64_t boundaries = info.cap[disk] / kDirBackupAlign;
  // The backup range must lie past the sectors it saves (and so inside the disk).
  if (boundaries < kDirBackupFromEnd ||
      (boundaries - kDirBackupFromEnd) * kDirBackupAlign < kDirBackupFirst + size) {
    return FS_OUT_OF_RANGE;
  }
  const uint64_t backup = (boundaries - kDirBackupFromEnd) * kDirBackupAlign;
  log_trace("backup_dir : size=%u,backup position=%llu\n", uint32_t(size), static_cast<unsigned long long>(backup));
  return to_backup ? copy_sectors(disk, kDirBackupFirst, backup, size)
                   : copy_sectors(disk, backup, kDirBackupFirst, size);
}

}  // namespace krt
