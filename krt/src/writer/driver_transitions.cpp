// Recording-side driver transitions: the write position, full partitions, clock changes.
#include "krt/driver_transitions.h"

#include <algorithm>
#include <mutex>

#include "krt/clock.h"
#include "krt/dir_index.h"
#include "krt/disk_io.h"
#include "krt/endian.h"
#include "krt/layout.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/pdp.h"
#include "krt/result.h"
#include "krt/sections.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

constexpr uint32_t kSaveEveryClusters = 512;  // the block is saved at c % 512 == 511
constexpr uint32_t kWakeEveryClusters = 8;    // the next driver is woken every 8th cluster

uint32_t collision(const DriverParam& pdp, uint32_t i) { return ld32(pdp.coll_copy + 4 * i); }
void set_collision_slot(DriverParam& pdp, uint32_t i, uint32_t c) { st32(pdp.coll_copy + 4 * i, c); }

// Section i back to "not in use" (its owner kept).
void clear_section(DriverParam& pdp, uint32_t i) {
  pdp.sections[i] = TimeSection{&pdp, nullptr, 0, 0, 0, 0, 0, 0, 0};
}

// The collisions actually held (the table has kMaxCollisions slots).
uint32_t collision_count(const DriverParam& pdp) {
  return std::min<uint32_t>(pdp.coll_count, kMaxCollisions);
}

// Copies section `from` over section `to`, keeping the search's link of `to` out of it.
void move_section(DriverParam& pdp, uint32_t from, uint32_t to) {
  TimeSection s = pdp.sections[from];
  s.next = nullptr;
  s.cursor = 0;
  s.state = 0;
  s.cand_time = 0;
  pdp.sections[to] = s;
}

// The end time of cluster c (get_dir_item_time1), or `fallback` when it cannot be read.
uint32_t cluster_end_time(const DriverParam& pdp, uint32_t c, uint32_t fallback) {
  uint32_t t = 0;
  return get_dir_item_time1(pdp, c, t) == FS_OK && t != 0 ? t : fallback;
}

// Forgets the older lap: its four fields and the clusters of its section.
void drop_older_lap(DriverParam& pdp) {
  log_trace("pdp->start_cluster2 SET TO 0\n");
  pdp.start_cluster2 = pdp.end_cluster2 = pdp.start_time2 = pdp.end_time2 = 0;
  TimeSection& older = pdp.sections[collision_count(pdp) + 1];
  older.start_cluster = older.end_cluster = 0;
}

// Deletes the collisions of the older lap that the write position has reached, each with the
// section that ran from the write position up to it.
void delete_reached_collisions(DriverParam& pdp) {
  while (pdp.cur_section < collision_count(pdp) && collision(pdp, pdp.cur_section) <= pdp.current_cluster) {
    const uint32_t n = pdp.cur_section;
    const uint32_t count = collision_count(pdp);
    log_trace("Delete old collision at cluster %u in work driver\n", collision(pdp, n));
    for (uint32_t i = n; i + 1 < count; ++i) set_collision_slot(pdp, i, collision(pdp, i + 1));
    set_collision_slot(pdp, count - 1, 0);
    for (uint32_t i = n + 1; i <= count; ++i) move_section(pdp, i + 1, i);
    clear_section(pdp, count + 1);
    pdp.coll_count = count - 1;
    pdp.dirty = 1;
  }
}

// Starts a new lap on pdp at time now: what it recorded becomes the older lap, the write
// position goes back before rev_clus and the sections move up by one (section 0 is the new
// lap's, filled by its first cluster).
void begin_new_lap(DriverParam& pdp, uint32_t now) {
  pdp.end_cluster2 = pdp.current_cluster;
  pdp.end_time2 = cluster_end_time(pdp, pdp.current_cluster, pdp.end_time1);
  pdp.start_cluster2 = pdp.rev_clus + kOlderLapGap - 1;
  get_dir_item_time(pdp, pdp.start_cluster2, pdp.start_time2);
  pdp.current_cluster = pdp.rev_clus - 1;
  pdp.start_time1 = pdp.end_time1 = now;
  const uint32_t count = collision_count(pdp);
  for (uint32_t i = count + 1; i-- > 0;) move_section(pdp, i, i + 1);
  clear_section(pdp, 0);
  pdp.cur_section = 0;
}

}  // namespace

uint8_t next_lap(uint8_t lap) { return lap == 255 ? 1 : uint8_t(lap + 1); }

int set_current_cluster(DriverParam& pdp, uint32_t c) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (pdp.current_cluster < pdp.rev_clus) {
    uint32_t t = 0;
    get_dir_item_time(pdp, c, t);
    pdp.start_time1 = t;
    pdp.sections[0].start_cluster = c;
    pdp.sections[0].start_time = t;
  }
  pdp.current_cluster = c;
  if (pdp.status == kStatusClean) pdp.status = 0;
  if (pdp.start_cluster2 != 0) {
    if (uint64_t(c) + kOlderLapGap < pdp.end_cluster2) {
      pdp.start_cluster2 = c + kOlderLapGap;
    } else {
      drop_older_lap(pdp);
    }
  }
  if (uint64_t(c) + kOlderLapGap >= pdp.total_clus && c % kWakeEveryClusters == 0 && pdp.next_drv &&
      pdp.next_drv != &pdp) {
    disk_activate(pdp.next_drv->dev);
  }
  delete_reached_collisions(pdp);
  refresh_current_section(pdp);
  if (c % kSaveEveryClusters == kSaveEveryClusters - 1 || pdp.dirty) return save_pdp(pdp);
  return FS_OK;
}

int change_work_driver(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const uint32_t now = time_now();
  if (!pdp.next_drv || pdp.next_drv == &pdp) {
    log_trace("only one driver\n");
    pdp.lap = next_lap(pdp.lap);
    pdp.status = 0;
    begin_new_lap(pdp, now);
    return save_pdp(pdp);
  }
  DriverParam& next = *pdp.next_drv;
  pdp.lap = next_lap(pdp.lap);
  if (pdp.current_cluster != 0) pdp.end_time1 = cluster_end_time(pdp, pdp.current_cluster, pdp.end_time1);
  pdp.status = kStatusClean;
  save_pdp(pdp);
  set_disk_standby(pdp.dev, kStandbyMinutesAfterUse);
  log_trace("change workDir: from %d.%d to %d.%d\n", pdp.dev, pdp.part, next.dev, next.part);
  set_work_driver(int(next.type), next);
  next.status = 0;
  if (next.start_cluster2 == 0 && uint64_t(next.current_cluster) + kOlderLapGap >= next.total_clus) {
    begin_new_lap(next, now);
  } else if (now < next.end_time1) {
    set_collision(next, now);
  }
  return save_pdp(next);
}

bool set_collision(DriverParam& pdp, uint32_t now) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_warn("Set new collision at cluster %u in work driver\n", pdp.current_cluster);
  const uint32_t count = pdp.coll_count;
  if (count > uint32_t(kMaxCollisions) - 1) {
    log_error("Too many time collisions in work driver, new collision will not be processed!!!!!!!\n");
    return false;
  }
  if (pdp.current_cluster < pdp.rev_clus) {
    log_trace("no cluster in this lap yet, no collision needed\n");
    return false;
  }
  const uint32_t n = std::min(pdp.cur_section, count);
  for (uint32_t i = count; i > n; --i) set_collision_slot(pdp, i, collision(pdp, i - 1));
  for (uint32_t i = count + 2; i-- > n;) move_section(pdp, i, i + 1);
  TimeSection& ending = pdp.sections[n];
  ending.end_cluster = pdp.current_cluster;
  ending.end_time = pdp.end_time1;
  TimeSection& starting = pdp.sections[n + 1];
  starting.start_cluster = starting.end_cluster = pdp.current_cluster + 1;
  starting.start_time = starting.end_time = now;
  set_collision_slot(pdp, n, pdp.current_cluster + 1);
  pdp.coll_count = count + 1;
  pdp.cur_section = n + 1;
  pdp.dirty = 1;
  return true;
}

}  // namespace krt
