// Library start-up and mounting a partition into the driver table.
#include "krt/mount.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "krt/cache.h"
#include "krt/disk_io.h"
#include "krt/driver_dump.h"
#include "krt/format.h"
#include "krt/layout.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/partition.h"
#include "krt/pdp.h"
#include "krt/restore.h"
#include "krt/result.h"
#include "krt/sections.h"
#include "krt/userdata.h"
#include "krt/work_drivers.h"

#ifndef KRT_REVISION
#define KRT_REVISION "dev"
#endif

namespace krt {
namespace {

constexpr uint64_t kSectorsPerGiB = 2097152;

// All protected by library_lock().
DiskInfo g_disk_info{0, 4, 0, 0, {}};  // the disk table as copied by the last start-up
uint32_t g_shutdown_time = 0;          // when the recorder stopped (0 = unknown)
MountReport g_reports[kMaxDisks][kMaxPartitions];  // what the last start-up made of each partition
constexpr uint32_t kMaxDriverType = 5;  // partition types are 0..5

void set_report(int disk, int part, MountState state, const char* reason) {
  if (disk < 0 || disk >= kMaxDisks || part < 0 || part >= kMaxPartitions) return;
  MountReport& r = g_reports[disk][part];
  r.state = state;
  std::snprintf(r.reason, sizeof r.reason, "%s", reason ? reason : "");
}

int free_driver_slots() {
  int n = 0;
  for (int i = 0; i < kMaxDrivers; ++i) n += driver_in_use(*driver_slot(i)) ? 0 : 1;
  return n;
}

StartupProgressFn g_progress = nullptr;

// Why the last krt_fs_mount refused its partition ("" when it did not).
char g_refusal[128] = "";

// Sectors of an area of `items` entries stored `per_sector` to a sector.
uint64_t area_sectors(uint64_t items, uint64_t per_sector) { return (items + per_sector - 1) / per_sector; }

// Whether relative sectors [first, first + count) lie between kTempOff and data_off.
bool inside_metadata(uint64_t first, uint64_t count, uint32_t data_off) {
  return first >= kTempOff && first + count <= data_off;
}

// Capacity in sectors of an attached disk, from the live disk table; 0 when unknown.
uint64_t attached_capacity(int disk) {
  DiskInfo info{};
  const int32_t n = get_disk_info(&info);
  return disk >= 0 && disk < std::min(n, kMaxDisks) ? info.cap[disk] : 0;
}

void print_banner(int disks) {
  log_info("krt_file_sys_init() libKRT.a %s, Build in:%s %s\n", KRT_REVISION, __DATE__, __TIME__);
  log_info("disk_num = %d\n", disks);
  log_info("ide_num:%d\n", g_disk_info.ide_num);
  log_info("ide_port:%d\n", g_disk_info.ide_port);
  log_info("ide_mask:0x%x\n", g_disk_info.ide_mask);
  log_info("ide_bad:0x%x\n", g_disk_info.ide_bad);
  log_info("cap: ");
  for (int d = 0; d < disks; ++d) {
    log_info("%llu, %llu(G) ", static_cast<unsigned long long>(g_disk_info.cap[d]),
             static_cast<unsigned long long>(g_disk_info.cap[d] / kSectorsPerGiB));
  }
  log_info("\n");
}

// Converts an old "KRT0.3" version block of disk to version 0.4 (in the cache: the write hook
// discards the write). Returns whether the disk was converted.
bool convert_version_03(int disk) {
  HeldBuf b(bread(disk, kVersionSector));
  if (!b || !is_version_03(b->data)) return false;
  std::memcpy(b->data, "KRT0.4", 7);
  b->data[offsetof(VersionBlockDisk, sig_t)] = 'T';
  b->data[offsetof(VersionBlockDisk, sig_s)] = 'S';
  bdirty(b.get());
  bwrite(b.get());
  log_info("KRT0.3->KRT0.4 compat convert!\n");
  return true;
}

// Gives the partitions of a disk converted from version 0.3 the standard user-data area.
void add_user_data_areas(int disk) {
  for (int p = 0; p < kMaxPartitions; ++p) {
    DriverParam* pdp = get_pdp(disk, p);
    if (!pdp) continue;
    pdp->ud_start = pdp->data_off + kUdAreaOffset;
    pdp->ud_item_size = kUdItemSize;
    pdp->ud_items = kUdItems;
    pdp->ud_first_item = 1;
    pdp->ud_last_item = 1;
    // An old partition may reserve fewer clusters than the area needs: a layout its recorder
    // made, not damage. The area then overlaps recordings and is left as it is.
    if (ud_area_fits(*pdp)) {
      init_ud_area(*pdp);
    } else {
      log_trace("partition %d of disk %d (old version): no room for user data in its reserved "
                "clusters\n", p, disk);
    }
    save_pdp(*pdp);
  }
}

// Mounts (disk, part); a partition that will not mount is formatted and mounted once more,
// else given up.
void mount_or_format(int disk, int part) {
  if (krt_fs_mount(disk, part) == 0) return;
  char why[sizeof g_refusal];
  std::snprintf(why, sizeof why, "%s", g_refusal);
  release_driver(disk, part);
  krt_format_driver(disk, part, kStartupSectorsPerClus);
  if (krt_fs_mount(disk, part) == 0) {
    set_report(disk, part, MountState::kReinitialised, why);
    log_warn("partition %d of disk %d is shown empty: %s; it was re-initialised in memory (the disk is "
             "not changed)\n", part, disk, why);
    return;
  }
  set_report(disk, part, MountState::kNotMounted, why);
  log_warn("partition %d of disk %d not mounted: %s\n", part, disk, why);
  release_driver(disk, part);
}

// Brings up one disk: version conversion, partition table, every partition.
void start_disk(int disk) {
  log_trace("disk %d:\n", disk);
  const bool converted = convert_version_03(disk);
  Partition parts[kMaxPartitions] = {};
  if (krt_read_partitions(disk, parts, kMaxPartitions) != FS_OK) {
    log_warn("disk %d: the partition table cannot be read; the disk is shown as one empty partition "
             "(re-initialised in memory, the disk is not changed)\n", disk);
    fs_event("ClearDriver", "/dev/sd%d%c", disk, 'a');
    clear_driver(disk);
    set_report(disk, 0, get_pdp(disk, 0) ? MountState::kReinitialised : MountState::kNotMounted,
               "the partition table cannot be read");
    return;
  }
  for (int p = 0; p < kMaxPartitions; ++p) {
    if (parts[p].size == 0) {
      log_trace("empty partition!\n");
      continue;
    }
    log_trace("partition %d:\n", p);
    if (const char* why = check_partition_range(parts, p, attached_capacity(disk))) {
      log_warn("partition %d of disk %d not mounted: %s\n", p, disk, why);
      set_report(disk, p, MountState::kNotMounted, why);
      continue;
    }
    mount_or_format(disk, p);
    report_startup_progress(disk, (p + 1) * 50 / kMaxPartitions);
  }
  if (converted) add_user_data_areas(disk);
}

int count_healthy_type0() {
  int n = 0;
  for (int i = 0; i < kMaxDrivers; ++i) {
    const DriverParam& p = *driver_slot(i);
    if (driver_in_use(p) && p.type == 0 && p.err_state == 0) ++n;
  }
  return n;
}

}  // namespace

int krt_file_sys_init(int& healthy_count, const uint32_t* shutdown) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_shutdown_time = shutdown ? *shutdown : 0;
  get_disk_info(&g_disk_info);
  g_disk_info.ide_num = std::clamp(g_disk_info.ide_num, 0, kMaxDisks);
  const int disks = g_disk_info.ide_num;
  healthy_count = 0;
  print_banner(disks);

  binit();
  init_access_stamps();
  reset_driver_table();
  clear_work_drivers();
  set_pack_period(kDefaultPackPeriodMs / 1000);
  std::memset(g_reports, 0, sizeof g_reports);

  for (int d = 0; d < disks; ++d) {
    report_startup_progress(d, 0);
    start_disk(d);
    // Disks after the first have no calendar: mounted, they are up.
    report_startup_progress(d, d == 0 ? 50 : 100);
  }

  rebuild_work_drivers();
  healthy_count = count_healthy_type0();
  log_trace("krt_file_sys_init() end============================\n\n");
  if (log_verbose()) dump_driver_tables(log_stream());
  return healthy_count == 0 ? kFsNoHealthyDriver : FS_OK;
}

void set_startup_progress(StartupProgressFn fn) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_progress = fn;
}

void report_startup_progress(int disk, int percent) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (g_progress) g_progress(disk, std::clamp(percent, 0, 100));
}

DiskInfo startup_disk_info() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_disk_info;
}

uint32_t shutdown_time() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_shutdown_time;
}

const char* check_partition_range(const Partition* parts, int p, uint64_t capacity) {
  const Partition& e = parts[p];
  if (e.size == 0) return nullptr;
  if (e.start + e.size < e.start || (capacity != 0 && e.start + e.size > capacity)) {
    return "it runs past the end of the disk";
  }
  for (int q = 0; q < p; ++q) {
    const Partition& o = parts[q];
    if (o.size != 0 && o.start < e.start + e.size && e.start < o.start + o.size) {
      return "it overlaps an earlier partition";
    }
  }
  return nullptr;
}

const char* check_block_fits(const DriverParam& pdp, uint64_t sectors) {
  const uint64_t per_clus = pdp.sector_per_clus;
  if (per_clus == 0) return "sector_per_clus is 0";
  if (sectors / per_clus < pdp.total_clus) return "total_clus exceeds the partition";
  if (uint64_t(pdp.data_off) + uint64_t(pdp.total_clus) * per_clus > sectors) {
    return "the data area runs past the partition";
  }
  const uint64_t items = uint64_t(pdp.total_clus) + 1;  // accessors accept c <= total_clus
  if (!inside_metadata(pdp.temp_off, 1, pdp.data_off) || !inside_metadata(pdp.coll_sec, 1, pdp.data_off) ||
      !inside_metadata(pdp.dir_off, area_sectors(items, kDirItemsPerSector), pdp.data_off) ||
      (pdp.index_off != 0 &&
       !inside_metadata(pdp.index_off, area_sectors(items, kIndexBytesPerSector), pdp.data_off))) {
    return "its metadata areas lie outside the partition's metadata";
  }
  if (pdp.coll_count > uint32_t(kMaxCollisions)) return "more than 128 collisions";
  if (pdp.current_cluster != 0 && pdp.current_cluster >= pdp.total_clus) {
    return "current_cluster lies past the last cluster";
  }
  if (pdp.rev_clus >= pdp.total_clus) return "rev_clus leaves no cluster for recordings";
  if (pdp.current_cluster != 0 && pdp.current_cluster < pdp.rev_clus) {
    return "current_cluster lies before the first recording cluster";
  }
  if (pdp.type > kMaxDriverType) return "its partition type is none of 0..5";
  return nullptr;
}

int krt_fs_mount(int disk, int part) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  Partition parts[kMaxPartitions] = {};
  std::snprintf(g_refusal, sizeof g_refusal, "the partition table cannot be read");
  if (part < 0 || part >= kMaxPartitions || krt_read_partitions(disk, parts, kMaxPartitions) != FS_OK ||
      parts[part].size == 0) {
    return -1;
  }
  if (const char* why = check_partition_range(parts, part, attached_capacity(disk))) {
    log_warn("partition %d of disk %d not mounted: %s\n", part, disk, why);
    std::snprintf(g_refusal, sizeof g_refusal, "%s", why);
    return -1;
  }
  std::snprintf(g_refusal, sizeof g_refusal, "%s",
                get_pdp(disk, part) || free_driver_slots() > 0
                    ? "its parameter block cannot be read or is not a parameter block"
                    : "32 partitions are mounted already, the most there can be");
  DriverParam* pdp = load_pdp(disk, part, parts[part].start);
  if (!pdp) return -1;
  if (const char* why = check_block_fits(*pdp, parts[part].size)) {
    // An info line: start-up warns once, with this reason, of what became of the partition.
    log_info("parameter block of disk %d partition %d refused: %s\n", disk, part, why);
    std::snprintf(g_refusal, sizeof g_refusal, "its parameter block was refused: %s", why);
    // The refused values were loaded into the partition's entry: nothing may use them (a
    // listing or the calendar would read wherever they point).
    release_driver(disk, part);
    return -1;
  }
  g_refusal[0] = 0;
  load_collision_table(*pdp);
  const bool unclean = pdp->status != kStatusClean && (pdp->type == 0 || pdp->type == 3 || pdp->type == 4);
  if (unclean) {
    restore_fs41(*pdp, g_shutdown_time);
    save_pdp(*pdp);
  }
  build_sections(*pdp);
  set_report(disk, part, unclean ? MountState::kRestored : MountState::kAsFound,
             unclean ? "its recorder stopped without closing it" : "");
  return 0;
}

MountReport mount_report(int disk, int part) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (disk < 0 || disk >= kMaxDisks || part < 0 || part >= kMaxPartitions) return MountReport{};
  return g_reports[disk][part];
}

const char* mount_state_text(MountState state) {
  switch (state) {
    case MountState::kAbsent:
      return "absent";
    case MountState::kAsFound:
      return "mounted as found";
    case MountState::kRestored:
      return "restored after an unclean stop";
    case MountState::kReinitialised:
      return "re-initialised in memory (shown empty)";
    case MountState::kNotMounted:
      return "not mounted";
  }
  return "absent";
}

int clear_driver(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (disk < 0 || disk >= kMaxDisks) return FS_OK;
  for (int part = 0; part < kMaxPartitions; ++part) release_driver(disk, part);
  DiskInfo info{};
  get_disk_info(&info);
  const Partition whole[kMaxPartitions] = {{0, info.cap[disk]}, {0, 0}, {0, 0}, {0, 0}};
  krt_write_partitions(disk, whole, kMaxPartitions);
  krt_format_driver(disk, 0, kStartupSectorsPerClus);
  krt_fs_mount(disk, 0);
  return FS_OK;
}

}  // namespace krt
