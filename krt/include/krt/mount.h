// Mounting: the library's start-up and the driver table's entries for each KRT partition.
//
// Start-up (krt_file_sys_init) builds the driver table from nothing:
//
//   1. copy the disk table, forget the sector cache, free every driver entry and file handle;
//   2. for each attached disk:
//        - an old "KRT0.3" version block is converted to "KRT0.4" (in the cache only);
//        - a disk whose partition table cannot be read is re-initialised (clear_driver);
//        - every partition of non-zero size is mounted (krt_fs_mount); one that does not mount
//          is formatted and mounted once more, else given up;
//   3. the drivers are grouped by type into rings with a work driver each
//      (rebuild_work_drivers), and the generation counter moves on.
//
// Mounting a partition loads its parameter block into a driver entry (load_pdp), checks that
// the block fits the partition, repairs a partition that its recorder left unclean
// (restore_fs41 in restore.h) and builds its time sections (sections.h).
//
// Every write that start-up or mounting issues (conversion, repair, formatting, saving the
// parameter block) ends in the sector cache: the default write hook discards it, so the disk
// keeps its contents and the repaired state is seen only through the cache.
//
// Every function takes library_lock() for its whole run.
#pragma once

#include <cstdint>

#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/layout.h"

namespace krt {

constexpr int kFsNoHealthyDriver = 7;               // start-up: no healthy driver of type 0
constexpr uint32_t kDefaultPackPeriodMs = 3600000;  // pack period after start-up

// ---- Start-up ---------------------------------------------------------------------------

// Starts the library over the disks attached now (attach_disks in disk.h): builds the driver
// table as described at the top of this file. *shutdown (null reads as 0) is the packed
// time at which the recorder stopped; restore_fs41 uses it to close a file that was being
// written. Sets healthy_count to the number of drivers of type 0 with err_state 0.
// Returns FS_OK, or kFsNoHealthyDriver when healthy_count is 0.
int krt_file_sys_init(int& healthy_count, const uint32_t* shutdown);

// Clears the 256 file handles (file.h; defined with the handle table). Called by
// krt_file_sys_init before any partition is mounted.
void clear_file_handles();

// The disk table as copied by the last start-up (ide_num clamped into 0..kMaxDisks).
DiskInfo startup_disk_info();

// The shutdown time given to the last start-up (0 when none was given).
uint32_t shutdown_time();

// ---- What start-up made of each partition ---------------------------------------------------

// How a partition came up at the last start-up.
enum class MountState {
  kAbsent,         // no partition-table entry (or no start-up yet)
  kAsFound,        // mounted as its parameter block describes it
  kRestored,       // mounted after its recorder's unfinished work was restored (an unclean stop)
  kReinitialised,  // it would not mount: mounted as a fresh, empty partition, in memory only
  kNotMounted,     // not mounted at all
};

// The state of a partition and, unless it was mounted as found, why.
struct MountReport {
  MountState state;
  char reason[128];  // in the user's words ("its parameter block was refused: ..."); "" if none
};

// What the last start-up made of partition part (0..3) of disk; kAbsent for other numbers.
MountReport mount_report(int disk, int part);

// The state as a user reads it: "absent", "mounted as found", "restored after an unclean stop",
// "re-initialised in memory (shown empty)", "not mounted".
const char* mount_state_text(MountState state);

// ---- Mounting one partition -------------------------------------------------------------

// Mounts partition part (0..3) of disk: reads the partition table, loads the parameter block
// into the driver table, checks that the block fits the partition, runs the restore of an
// unclean partition of type 0, 3 or 4 and saves its block, and builds the time sections.
// Returns 0, or -1 when the table cannot be read, the entry is empty, the block is refused or
// the table is full, or the block does not fit (warning "parameter block of disk D partition P
// refused: REASON"; the partition's entry is then released, so no refused value is ever used).
int krt_fs_mount(int disk, int part);

// Why entry p of a partition table (parts[0..3]) cannot be mounted on a disk of capacity
// sectors (0 = unknown), or null when it can: it runs past the end of the disk (or its end
// overflows 64 bits), or it overlaps an earlier entry of non-zero size. An empty entry is fine.
const char* check_partition_range(const Partition* parts, int p, uint64_t capacity);

// Why a loaded parameter block cannot be used on a partition of partition_sectors sectors, or
// null when it can. A block is refused when its sector_per_clus is 0, its data area
// (data_off + total_clus x sector_per_clus) runs past the partition, its parameter block,
// collision table, directory (total_clus + 1 items) or cluster index (total_clus + 1 bytes)
// lies outside relative sectors kTempOff .. data_off, it claims more than 128 collisions, or
// its current_cluster is total_clus or beyond or lies below rev_clus (the write position
// before the first recording cluster), its rev_clus leaves no cluster for recordings
// (rev_clus >= total_clus), or its type is none of the partition types 0..5.
const char* check_block_fits(const DriverParam& pdp, uint64_t partition_sectors);

// Loads the parameter block at relative sector 24 of the partition starting at absolute
// sector start into the entry of (disk, part), or into the first free entry when there is
// none. Keeps the slot's collision copy and sections; sets start_sector, dev and part, clears
// dirty and the ring links. The collision table is read apart (load_collision_table), once the
// block is known to fit its partition, so that a damaged coll_sec never sends a read outside it.
// Returns the entry, or null when the sector cannot be read, the block has no magic (error
// "temp sec check flag error"), its type is the free marker kDriverFree (error), or every
// entry is in use (error "get_empty_driver failed!").
DriverParam* load_pdp(int disk, int part, uint64_t start);

// Reads the collision table of a loaded driver (relative sector coll_sec) into its collision
// copy; a failed read keeps the old copy. Returns nothing.
void load_collision_table(DriverParam& pdp);

// Writes a driver back: its collision copy to relative sector coll_sec when dirty (clearing
// dirty), then saved_cluster = restore_from = current_cluster and the 336 bytes of the block
// into relative sector temp_off (the rest of that sector is kept), then flushes the disk's
// dirty buffers. Returns 0, or FS_IO_ERROR when a sector cannot be read.
int save_pdp(DriverParam& pdp);

// Frees the entry of (disk, part): takes it out of its type ring (rebuilding that ring when it
// was linked) and zeroes it. Returns 0, or -1 when there is no such entry.
int release_driver(int disk, int part);

// ---- Driver type, pack period, driver info --------------------------------------------------

// Sets type to the type of the driver of (disk, part). Returns 0, or 1 when there is none.
int krt_get_driver_type(int disk, int part, uint32_t& type);

// Gives the driver of (disk, part) a new type and saves its block; the type rings keep the old
// grouping until the next rebuild_work_drivers. Returns 0, or 1 when there is no such driver,
// it already has that type, or the type is the free marker kDriverFree (warning "Already this
// type or can't be set to this type: old->new").
int krt_set_driver_type(int disk, int part, uint32_t type);

// Sets the writer's pack period to seconds x 1000 ms (saturating) when seconds >= 60; smaller
// values are ignored. Returns nothing.
void set_pack_period(uint32_t seconds);

// The writer's pack period in milliseconds.
uint32_t pack_period_ms();

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
// its type is set to 1 (warning "krt_get_driver_info() DISK Set to ReadOnly!"). Returns 0, or
// 1 when there is no such driver.
int krt_get_driver_info(int disk, int part, DriverInfo& info);

}  // namespace krt
