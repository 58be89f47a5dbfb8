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
// Mounting a partition loads its parameter block into a driver entry (load_pdp of pdp.h), checks that
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

// ---- Start-up ---------------------------------------------------------------------------

// Starts the library over the disks attached now (attach_disks in disk.h): builds the driver
// table as described at the top of this file. *shutdown (null reads as 0) is the packed
// time at which the recorder stopped; restore_fs41 uses it to close a file that was being
// written. Sets healthy_count to the number of drivers of type 0 with err_state 0.
// Returns FS_OK, or kFsNoHealthyDriver when healthy_count is 0.
int krt_file_sys_init(int& healthy_count, const uint32_t* shutdown);

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

// Re-initialises a whole disk: releases its drivers, writes a partition table with one
// partition covering the disk (and a fresh version block when the old one is not version
// 0.4), formats that partition with kStartupSectorsPerClus and mounts it. Returns 0 (failures
// of the steps are logged, not returned).
int clear_driver(int disk);

// ---- Mounting one partition -------------------------------------------------------------

// Mounts partition part (0..3) of disk: reads the partition table, loads the parameter block
// into the driver table, checks that the block fits the partition, runs the restore of an
// unclean partition of type 0, 3 or 4 and saves its block, and builds the time sections.
// Returns 0, or -1 when the table cannot be read, the entry is empty, the block is refused or
// the table is full, or the block does not fit (info line "parameter block of disk D partition P
// refused: REASON", the reason kept for mount_report; the partition's entry is then released,
// so no refused value is ever used). Start-up warns once, with the reason, of what it then did.
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

// ---- Start-up progress -----------------------------------------------------------------------

// Told how far a start-up has come: disk index and percent 0..100. Start-up runs under
// library_lock(), on the thread that called it: a progress function must be quick and must not
// wait for a thread that takes the lock (post the numbers on, do not call back into the library).
using StartupProgressFn = void (*)(int disk, int percent);

// Installs the progress function (null: none, the default).
void set_startup_progress(StartupProgressFn fn);

// Reports progress to the installed function, if any. Mounting a disk's partitions is the first
// half of its start-up; the record calendar (volume_startup, disk 0) is the second.
void report_startup_progress(int disk, int percent);

}  // namespace krt
