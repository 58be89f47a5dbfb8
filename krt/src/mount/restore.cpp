// Restore at mount: the real write position of an unclean partition and its index bytes.
#include "krt/restore.h"

#include <algorithm>
#include <mutex>

#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/result.h"
#include "restore_internal.h"

namespace krt {
namespace {

constexpr int32_t kShutdownSlack = 300;          // seconds the shutdown time may lie past a cluster
constexpr uint32_t kMaxEndLength = UINT16_MAX;   // sectors end_length can hold

StreamCheckFn g_stream_check = nullptr;  // protected by library_lock()

// Absolute first sector of cluster c.
uint64_t cluster_sector(const DriverParam& pdp, uint32_t c) {
  return pdp.start_sector + pdp.data_off + uint64_t(c) * pdp.sector_per_clus;
}

// Sectors of valid recording data in cluster c (a file's cluster still being written), as the
// stream check hook finds them. Only the first kMaxEndLength sectors are looked at: end_length
// cannot say more.
uint16_t measure_valid_data(const DriverParam& pdp, uint32_t c, const DirItem& item) {
  uint8_t* buf = io_scratch();
  const uint32_t span = std::min(pdp.sector_per_clus, kMaxEndLength);
  const bool first_cluster = c == item.first_cluster_no;
  if (!first_cluster && item.up_cluster_no < pdp.total_clus) {
    // Prime the parser with the end of the file's previous cluster.
    const uint32_t n = std::min<uint32_t>(kIoScratchSectors, pdp.sector_per_clus);
    const uint64_t tail = cluster_sector(pdp, item.up_cluster_no) + pdp.sector_per_clus - n;
    uint32_t bytes = n * kSectorBytes;
    if (disk_io_read(pdp.dev, uint16_t(n), tail, buf) == 0) g_stream_check(buf, &bytes, 1, 0);
  }
  bool first_call = first_cluster;
  uint32_t end_length = 0;
  for (uint32_t e = 0; e < span; e += kIoScratchSectors) {
    const uint32_t n = std::min<uint32_t>(kIoScratchSectors, span - e);
    if (disk_io_read(pdp.dev, uint16_t(n), cluster_sector(pdp, c) + e, buf) != 0) break;
    uint32_t bytes = n * kSectorBytes;
    const int stop = g_stream_check(buf, &bytes, first_call, first_call);
    first_call = false;
    bytes = std::min(bytes, n * kSectorBytes);
    if (bytes > 0) end_length = e + (bytes + kSectorBytes - 1) / kSectorBytes;
    if (stop != 0) {
      log_trace("parse error... \n");
      break;
    }
  }
  log_trace("Custom file verify... channel %d, %u sectors valid.\n", item.channel, end_length);
  return uint16_t(end_length);
}

// Closes the file whose cluster c was still being written, when the stream check hook finds
// valid data in it; c then becomes the last good cluster. Returns 0 or an accessor's error.
int close_open_cluster(const DriverParam& pdp, uint32_t c, const DirItem& item, uint32_t shutdown,
                       uint32_t& last_good) {
  uint32_t end_time = shutdown;
  const int32_t past = time_diff(end_time, item.start_time);
  if (past > kShutdownSlack || past < 0) end_time = item.start_time;
  if (!g_stream_check) return FS_OK;
  const uint16_t end_length = measure_valid_data(pdp, c, item);
  if (end_length == 0) return FS_OK;
  const uint32_t first = item.first_cluster_no;
  int r;
  if ((r = set_dir_first_item(pdp, first, end_length, item.item_num, item.start_time, false)) != FS_OK) {
    log_info("Error %d : set_dir_first_item(pdp,first_clus,end_length,item_num,time)\n", r);
    return r;
  }
  if ((r = set_dir_item_end_time(pdp, first, end_time, false)) != FS_OK ||
      (r = set_dir_last_item(pdp, c, end_length, end_time, false)) != FS_OK ||
      (r = set_dir_item_down_clus(pdp, c, 0, false)) != FS_OK ||
      (r = set_dir_item_end_time(pdp, c, end_time, false)) != FS_OK) {
    log_info("Error %d : set_dir_item_end_time(pdp,clus,end_time)\n", r);
    return r;
  }
  last_good = c;
  return FS_OK;
}

// Walks the directory from the saved write position; sets last_good to the real one.
// Returns 0 or an accessor's error.
int find_write_position(const DriverParam& pdp, uint32_t shutdown, uint32_t& last_good) {
  const uint32_t start = std::max(pdp.rev_clus, pdp.current_cluster);
  const uint32_t stop =
      uint32_t(std::min<uint64_t>(uint64_t(pdp.current_cluster) + kRestoreLookahead, pdp.total_clus));
  last_good = start;
  log_trace("restore_fs41() %u-->%u\n", start, stop);
  uint32_t previous_time = 0;
  for (uint32_t c = start; c < stop; ++c) {
    DirItem item{};
    if (const int r = get_dir_item_info(pdp, c, item); r != FS_OK) {
      log_info("Error %d : get_dir_item_info(pdp,clus1,pdir_item)\n", r);
      return r;
    }
    if (item.dir_flag < kDirFlagLater || item.dir_flag > kDirFlagContinued) continue;
    if (time_diff(item.start_time, previous_time) < -kRestoreClockSlack) {
      log_trace("time out\n");
      break;
    }
    previous_time = item.start_time;
    if (item.dir_flag == kDirFlagLater) {
      DirItem up{};
      if (const int r = get_dir_item_info(pdp, item.up_cluster_no, up); r != FS_OK) {
        log_info("Error %d : get_dir_item_info(pdp,pdir_item->up_cluster_no,pdir_item1)\n", r);
        return r;
      }
      if (up.down_cluster_no != c) {
        log_trace("cluster out\n");
        break;
      }
    }
    if (item.down_cluster_no == kNoNextCluster) {
      if (const int r = close_open_cluster(pdp, c, item, shutdown, last_good); r != FS_OK) return r;
    } else if (item.down_cluster_no == 0) {
      log_trace("restore2 %u clus,clus->first_clus=%u\n", c, item.first_cluster_no);
      last_good = c;
    }
  }
  return FS_OK;
}

}  // namespace

uint8_t index_flag_for(uint8_t dir_flag, uint32_t c) {
  switch (dir_flag) {
    case kDirFlagNever:
    case kDirFlagLater:
      return kIndexFlagInside;
    case kDirFlagFirst:
      return kIndexFlagFirst;
    case kDirFlagContinued:
      return kIndexFlagContinued;
    default:
      log_warn("restoring an unclean partition: cluster %u marked unusable\n", c);
      return kIndexFlagBad;
  }
}

void set_stream_check_hook(StreamCheckFn hook) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_stream_check = hook;
}

int restore_fs41(DriverParam& pdp, uint32_t shutdown) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  uint32_t last_good = 0;
  if (const int r = find_write_position(pdp, shutdown, last_good); r != FS_OK) return r;
  pdp.current_cluster = last_good;
  if (const int r = get_dir_item_time1(pdp, pdp.current_cluster, pdp.end_time1); r != FS_OK) {
    log_info("Error %d : get_dir_item_time1(pdp,pdp->current_cluster,&pdp->end_time1)\n", r);
    return r;
  }
  if (pdp.start_cluster2 != 0) {
    if (uint64_t(pdp.current_cluster) + kOlderLapLead < pdp.end_cluster2) {
      pdp.start_cluster2 = pdp.current_cluster + kOlderLapLead;
      if (const int r = get_dir_item_time(pdp, pdp.start_cluster2, pdp.start_time2); r != FS_OK) {
        log_info("Error %d : get_dir_item_time(pdp,pdp->start_cluster2,&pdp->start_time2)\n", r);
        return r;
      }
    } else {
      log_trace("pdp->start_cluster2 SET TO 0\n");
      pdp.start_cluster2 = pdp.end_cluster2 = pdp.start_time2 = pdp.end_time2 = 0;
    }
  }
  return restore_clus_index(pdp);
}

int restore_clus_index(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  // Without an index there is nothing to rebuild (and index sector arithmetic would point at
  // the partition's first sectors).
  if (pdp.index_off == 0) return FS_NO_INDEX;
  const int64_t back = int64_t(pdp.restore_from) - int64_t(kRestoreIndexBack);
  const uint32_t from = back <= int64_t(pdp.rev_clus) ? pdp.rev_clus : uint32_t(back);
  log_trace("restore_clus_index %x dev:%u-->%u\n", uint32_t(pdp.dev), from, pdp.current_cluster);
  for (uint64_t c = from; c <= pdp.current_cluster; ++c) {
    DirItem item{};
    if (const int r = get_dir_item_info(pdp, uint32_t(c), item); r != FS_OK) {
      log_info("Error %d : get_dir_item_info(pdp,clus,pdir_item)\n", r);
      return r;
    }
    uint8_t byte = 0;
    make_index_item(byte, item.channel, index_flag_for(item.dir_flag, uint32_t(c)));
    if (const int r = set_index_item_info(pdp, uint32_t(c), byte, false); r != FS_OK) {
      log_info("Error %d : set_index_item_info(pdp,clus,index_item)\n", r);
      return r;
    }
  }
  pdp.restore_from = pdp.current_cluster;
  return FS_OK;
}

}  // namespace krt
