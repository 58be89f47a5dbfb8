// Recording-side driver transitions: how a recorder's writing moves the driver table on.
//
// While a recorder writes, the entry of its work driver changes with the write position:
//
//   - each new cluster becomes current_cluster (set_current_cluster); the older lap's start
//     stays 256 clusters ahead of it until the current lap has caught up with the older lap's
//     end, and then the older lap is dropped;
//   - a full partition hands the recording over to the next driver of its type ring, or, when
//     it is alone in its ring, wraps onto itself and keeps what it had as the older lap
//     (change_work_driver);
//   - a clock set back splits the rising run of times with a collision: a new time section
//     starts at the next cluster (time_changed of file_write.h, set_collision).
//
// The viewer never runs these (its disks are never written); they define the state it reads:
// the lap fields, the older lap, the collision table and the time sections (sections.h).
//
// Lap layout of a driver after wrapping (C = collisions, n = cur_section):
//
//   rev_clus       current_cluster  +1 ....... +256 = start_cluster2 ....... end_cluster2
//   |-- current lap --|-- overwritten next ----|------- older lap -------------|
//
// Every function takes library_lock().
#pragma once

#include <cstdint>

#include "krt/driver.h"

namespace krt {

constexpr uint32_t kOlderLapGap = 256;        // clusters between the write position and the older lap
constexpr int32_t kClockBackSeconds = 10;     // a clock set back further adds a collision
constexpr int32_t kClockJumpSeconds = 7200;   // a clock set forward further cuts the open files
constexpr int kStandbyMinutesAfterUse = 10;   // standby of a disk whose driver was left

// Moves the write position of work driver pdp to cluster c, just taken by the writer:
//   - at the start of a lap (current_cluster < rev_clus) start_time1 and section 0 start at c;
//   - current_cluster = c; a status of kStatusClean becomes 0 (recording in progress);
//   - the older lap's start moves to c + 256 while that lies below end_cluster2, otherwise the
//     older lap is dropped (its four fields and its section's clusters become 0);
//   - near the end of the partition (c + 256 >= total_clus, every 8th cluster) the next driver
//     of the ring is woken up ahead of use;
//   - a collision that the write position has reached is deleted with its section;
//   - the current section is brought up to date (refresh_current_section);
//   - the block is saved when c % 512 == 511 or the collision table changed (dirty).
// Returns FS_OK, or the error of save_pdp.
int set_current_cluster(DriverParam& pdp, uint32_t c);

// Hands the recording over when work driver pdp is full:
//   - alone in its ring, pdp wraps onto itself: lap + 1 (255 wraps to 1), status 0, its lap
//     becomes the older lap (start_cluster2 = rev_clus + 255, end_cluster2 = the old
//     current_cluster with that cluster's end time), current_cluster = rev_clus - 1,
//     start_time1 = end_time1 = now, the sections move up by one and cur_section = 0;
//   - otherwise pdp gets lap + 1, end_time1 from its current cluster and status kStatusClean, is
//     saved and its disk gets a 10-minute standby; the next driver of the ring becomes the
//     type's work driver with status 0. When that driver has no older lap and is full as well
//     (current_cluster + 256 >= total_clus) it starts a new lap the same way; otherwise, when
//     now is earlier than its end_time1, a collision is set.
// The driver that takes the recording is saved. Returns FS_OK, or the error of save_pdp.
int change_work_driver(DriverParam& pdp);

// Starts a new time section at the next cluster, current_cluster + 1, whose times start again
// at `now` (warning "Set new collision at cluster c in work driver"): the collisions and
// sections from cur_section on move up by one, section cur_section ends at current_cluster
// with the old end_time1, the next section starts at current_cluster + 1 with time now, the
// collision is stored in slot cur_section, and coll_count, cur_section and dirty grow.
// Returns true; false, changing nothing, when 128 collisions are recorded already (error "Too
// many time collisions in work driver, new collision will not be processed!") or the lap has
// no cluster yet (current_cluster < rev_clus: its times start afresh with its first cluster).
bool set_collision(DriverParam& pdp, uint32_t now);

// The lap counter after lap: lap + 1, with 255 followed by 1.
uint8_t next_lap(uint8_t lap);

}  // namespace krt
