// Driver type and the summary of one driver.
#include "krt/driver_info.h"

#include <algorithm>
#include <bit>
#include <mutex>

#include "krt/disk.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/mount.h"
#include "krt/pdp.h"
#include "krt/sections.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

constexpr uint32_t kHighestType = 5;        // types above are treated as read-only
constexpr uint32_t kReadOnlyType = 1;       // what such a type becomes
constexpr uint64_t kSectorsPerMiB = 2048;
constexpr uint32_t kLeastFreeMiB = 16;      // less free space than this reads as none

uint32_t saturate32(uint64_t v) { return uint32_t(std::min<uint64_t>(v, UINT32_MAX)); }

// Widens the older lap's span [start, end] to the valid sections that lie in it (past the
// write position). Zero times are no times.
void merge_older_sections(const DriverParam& p, uint32_t& start, uint32_t& end) {
  const uint32_t count = std::min<uint32_t>(p.coll_count + 2, kSectionsPerDriver);
  for (uint32_t i = 0; i < count; ++i) {
    const TimeSection& s = p.sections[i];
    if (s.end_cluster == 0 || !section_valid(s) || s.start_cluster <= p.current_cluster) continue;
    if (s.start_time != 0 && (start == 0 || s.start_time < start)) start = s.start_time;
    if (s.end_time > end) end = s.end_time;
  }
}

// Free space of the current lap in MiB: none with an older lap, none below kLeastFreeMiB.
uint32_t free_mib(const DriverParam& p) {
  if (p.start_cluster2 != 0 || uint64_t(p.current_cluster) + 1 >= p.total_clus) return 0;
  const uint64_t mib = (uint64_t(p.total_clus) - p.current_cluster - 1) * p.sector_per_clus / kSectorsPerMiB;
  return mib < kLeastFreeMiB ? 0 : saturate32(mib);
}

// Disks before `disk` that are present in ide_mask and absent from ide_bad.
uint32_t disk_position(int disk) {
  const DiskInfo info = startup_disk_info();
  if (disk <= 0 || disk >= kMaxDisks) return 0;
  const uint32_t before = (1u << disk) - 1;
  return uint32_t(std::popcount(info.ide_mask & ~info.ide_bad & before));
}

}  // namespace

int krt_get_driver_type(int disk, int part, uint32_t& type) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const DriverParam* p = get_pdp(disk, part);
  if (!p) return 1;
  type = p->type;
  return 0;
}

int krt_set_driver_type(int disk, int part, uint32_t type) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DriverParam* p = get_pdp(disk, part);
  if (!p) return 1;
  if (p->type == type || type == kDriverFree) {
    log_warn("Already this type or can't be set to this type: %u->%u\n", p->type, type);
    return 1;
  }
  disk_activate(disk);
  p->type = type;
  save_pdp(*p);
  return 0;
}

int krt_get_driver_info(int disk, int part, DriverInfo& info) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DriverParam* p = get_pdp(disk, part);
  if (!p) return 1;
  info = DriverInfo{};
  info.err_status = p->err_state;
  if (p->type > kHighestType) {
    p->type = kReadOnlyType;
    log_warn("partition %d of disk %d has an unknown type; it is shown read-only\n", int(p->part), int(p->dev));
    info.err_status = kErrStateDiskError;
  }
  info.type = p->type;
  info.is_work = work_driver(int(p->type)) == p ? 1 : 0;
  info.sections = p->coll_count + 2;
  info.start_time1 = p->start_time1;
  info.end_time1 = p->end_time1;
  info.start_time2 = p->start_time2;
  info.end_time2 = p->end_time2;
  merge_older_sections(*p, info.start_time2, info.end_time2);
  info.total_mb =
      saturate32((uint64_t(p->total_clus) * p->sector_per_clus + p->data_off) / kSectorsPerMiB);
  info.free_mb = free_mib(*p);
  info.disk_position = disk_position(disk);
  return 0;
}

}  // namespace krt
