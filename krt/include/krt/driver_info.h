// What a caller may ask and set of a mounted driver: its type and the summary
// krt_get_driver_info reports. (The writer's pack period is kept with the work drivers,
// work_drivers.h.)
//
// Every function takes library_lock() for its whole run.
#pragma once

#include <cstdint>

namespace krt {

// Sets type to the type of the driver of (disk, part). Returns 0, or 1 when there is none.
int krt_get_driver_type(int disk, int part, uint32_t& type);

// Gives the driver of (disk, part) a new type and saves its block; the type rings keep the old
// grouping until the next rebuild_work_drivers. Returns 0, or 1 when there is no such driver,
// it already has that type, or the type is the free marker kDriverFree (warning "Already this
// type or can't be set to this type: old->new").
int krt_set_driver_type(int disk, int part, uint32_t type);

// What krt_get_driver_info reports about a driver; every field is a uint32.
struct DriverInfo {
  uint32_t type;           // driver type (a type above 5 is reported, and set, as 1)
  uint32_t is_work;        // 1 when the driver is the work driver of its type
  uint32_t sections;       // coll_count + 2
  uint32_t start_time1;    // first recording of the current lap
  uint32_t end_time1;      // last recording of the current lap
  uint32_t reserved;       // 0
  uint32_t start_time2;    // older lap, widened to the valid sections that lie in it
  uint32_t end_time2;      //
  uint32_t total_mb;       // (total_clus x sector_per_clus + data_off) / 2,048
  uint32_t free_mb;        // unused clusters of the current lap in MiB; 0 with an older lap
                           // or below 16
  uint32_t err_status;     // err_state, or kErrStateDiskError for a type above 5
  uint32_t disk_position;  // disks before this one present in ide_mask and not in ide_bad
};

// Fills info for the driver of (disk, part). A driver whose type is above 5 becomes read-only:
// its type is set to 1 (warning "partition P of disk D has an unknown type; it is shown
// read-only"). Returns 0, or 1 when there is no such driver.
int krt_get_driver_info(int disk, int part, DriverInfo& info);

}  // namespace krt
