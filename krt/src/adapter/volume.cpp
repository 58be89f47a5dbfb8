// Volume start-up and the record calendar of disk 0.
#include "krt/volume.h"

#include <cstring>
#include <mutex>
#include <string>

#include "adapt_internal.h"
#include "krt/adapter.h"
#include "krt/disk.h"
#include "krt/disk_io.h"
#include "krt/driver.h"
#include "krt/driver_info.h"
#include "krt/io_trace.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/mount.h"
#include "krt/packed_time.h"
#include "krt/partition.h"
#include "krt/readahead.h"
#include "krt/result.h"
#include "krt/work_drivers.h"
#include "vfs/filetable.h"

namespace krt {
namespace {

constexpr int kStandbyMinutes = 10;         // standby time given to every disk
constexpr uint32_t kPackPeriodSeconds = 86400;  // the writer's file period: one day

RecordCalendar g_calendar;  // protected by library_lock()

// Makes the adapter the only operation table under "/mnt": drops every earlier registration
// of the prefix first, so that reruns reuse one entry of the virtual file table.
void register_adapter() {
  while (RegisterFileOps(kAdapterPrefix, nullptr)) {
  }
  RegisterFileOps(kAdapterPrefix, adapter_file_ops());
}

// Enters the channels of one day of partition part into the calendar.
void enter_day(int part, uint32_t day, uint64_t channels) {
  const TimeFields t = unpack_time(day);
  const int y = t.year - 2000;
  if (y < 0 || y >= kCalendarYears || t.month < 1 || t.month > kCalendarMonths || t.day < 1 ||
      t.day > kCalendarDays)
    return;
  // Channel c keeps bit c % 32: channels 33..64 share the bits of 1..32.
  g_calendar.day_mask[part][y][t.month - 1][t.day - 1] |= uint32_t(channels) | uint32_t(channels >> 32);
  g_calendar.partition_mask |= 1u << part;
}

}  // namespace

void activate_work_disks() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int t = 0; t < kRingTypes; ++t) {
    if (const DriverParam* w = work_driver(t)) {
      disk_activate(w->dev);
      stamp_disk_access(w->dev);
    }
  }
}

int32_t volume_startup() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  set_log_verbose_from_environment();
  if (const std::string problems = io_settings_from_environment(); !problems.empty()) {
    log_warn("%s\n", problems.c_str());
  }
  readahead_from_environment();
  attach_disks();
  int healthy = 0;
  krt_file_sys_init(healthy, nullptr);
  set_standby(kStandbyMinutes);
  activate_work_disks();
  set_pack_period(kPackPeriodSeconds);
  register_adapter();
  clear_calendar();
  build_calendar();
  return healthy;
}

void clear_calendar() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  std::memset(&g_calendar, 0, sizeof g_calendar);
}

void build_calendar() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (get_disk_info(nullptr) == 0) return;
  Partition parts[kMaxPartitions] = {};
  if (krt_read_partitions(0, parts, kMaxPartitions) != FS_OK) return;
  for (int p = 0; p < kMaxPartitions; ++p) {
    DriverParam* pdp = parts[p].size == 0 ? nullptr : get_pdp(0, p);
    if (pdp && pdp->current_cluster != 0) {
      const uint32_t from = pdp->rev_clus == 0 ? 0 : pdp->rev_clus - 1;
      for (const auto& [day, channels] : adapt::listed_channel_days(pdp, from, false)) enter_day(p, day, channels);
    }
    report_startup_progress(0, 50 + (p + 1) * 50 / kMaxPartitions);
  }
}

const RecordCalendar& record_calendar() { return g_calendar; }

uint32_t calendar_partition_mask() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_calendar.partition_mask;
}

uint32_t calendar_day_mask(int part, int year, int month, int day) {
  if (part < 0 || part >= kMaxPartitions || year < 2000 || year >= 2000 + kCalendarYears ||
      month < 1 || month > kCalendarMonths || day < 1 || day > kCalendarDays)
    return 0;
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_calendar.day_mask[part][year - 2000][month - 1][day - 1];
}

}  // namespace krt
