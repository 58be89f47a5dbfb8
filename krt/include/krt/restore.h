// Consistency restore at mount, and the library's repair tools.
//
// A recorder writes its parameter block only every 512 clusters and when it leaves a
// partition, but directory items and index bytes cluster by cluster. A disk taken from a
// running recorder therefore has a status of 0, a current_cluster that lags behind the real
// write position, and index bytes that may not yet reflect the last directory items. Mounting
// such a partition (type 0, 3 or 4) runs restore_fs41, which walks the directory forward from
// the saved position to find the real one:
//
//   - it looks at most 520 clusters past the saved current_cluster, and never at total_clus
//     or beyond;
//   - a file cluster whose start time is more than 10 s earlier than the one before it belongs
//     to an older lap: the walk stops ("time out");
//   - a later cluster of a file whose up link's item does not link back to it is not part of
//     the current recording: the walk stops ("cluster out");
//   - the last cluster of a properly closed file (down link 0) becomes the write position; a
//     cluster still being written (down link 0xFFFFFFFF) is closed only when a stream check
//     hook is installed and finds valid data in it.
//
// It then corrects the lap fields and rebuilds the index bytes written since the last save
// (restore_clus_index). Every change goes through the sector cache with dirty marks; with the
// default write hook nothing reaches the disk.
//
// Every function takes library_lock().
#pragma once

#include <cstdint>

#include "krt/disk_io.h"
#include "krt/driver.h"

namespace krt {

constexpr uint32_t kRestoreLookahead = 520;  // clusters past the saved position looked at
constexpr int32_t kRestoreClockSlack = 10;   // seconds a clock may step back within a lap
constexpr uint32_t kRestoreIndexBack = 512;  // clusters before restore_from rebuilt as well
constexpr uint32_t kOlderLapLead = 256;      // older lap starts this far past the write position

// ---- Stream check hook ---------------------------------------------------------------------

// Parses recording data for restore_fs41: buf holds *bytes bytes; first_call marks the call
// that primes the parser with the end of the file's previous cluster, restart marks the first
// call of a file's first cluster. Replaces *bytes with the number of bytes that hold valid
// data and returns non-zero when the data stops parsing.
using StreamCheckFn = int (*)(uint8_t* buf, uint32_t* bytes, int first_call, int restart);

// Installs the stream check hook (null, the default, removes it). Returns nothing.
void set_stream_check_hook(StreamCheckFn hook);

// ---- Restore at mount ---------------------------------------------------------------------

// Finds the real write position of an unclean partition (see the top of this file), sets
// current_cluster and end_time1, moves or drops the older lap, and runs restore_clus_index.
// shutdown is the packed time at which the recorder stopped (0: unknown); a file found still
// being written is closed with it as its end time (with the cluster's own start time when
// shutdown lies before that start or more than 300 s after it). Returns 0, or the first
// error of a directory or index accessor (FS_IO_ERROR, FS_BAD_CLUSTER); the fields changed
// before the error stay changed.
int restore_fs41(DriverParam& pdp, uint32_t shutdown = 0);

// Rebuilds the index bytes of clusters max(restore_from - 512, rev_clus) .. current_cluster
// from their directory items (dir_flag 0 and 1 give flag 0, 2 gives 2, 3 gives 1, anything
// else flag 3 with the warning "restoring an unclean partition: cluster c marked unusable"); bytes already marked bad
// stay bad. Then restore_from = current_cluster. Returns 0, or an accessor's error code.
int restore_clus_index(DriverParam& pdp);

// ---- Repair tools (not used by the viewer) ---------------------------------------------------

// Rebuilds every index byte of the driver of (disk, part) from rev_clus up to the first cluster
// never written (at most up to total_clus), then sets restore_from = current_cluster,
// err_state 0 and saves the block. Returns 0, or 1 when there is no such driver.
int repair_driver(int disk, int part);

// Copies the library's disk error report into report and clears it; every driver with an
// error status that is still in a type ring is taken out of it (warning "remove bad disk d p"),
// gets err_state kErrStateDiskError and is saved. The rings are rebuilt when the report had a
// bad disk or a driver was taken out. Returns kErrStateDiskError when the report had a read or
// write error, else 0.
int remove_bad_disks(DiskErrorReport& report);

// Copies the cluster index of the driver of (disk, part) (data_off - index_off sectors) into
// the partition's last cluster (to_backup) or back. Returns 0 (also when the driver has no
// index); 1 when there is no such driver; FS_OUT_OF_RANGE when the index does not fit in one
// cluster or the partition has no cluster; FS_READ_FAIL when a read fails; FS_IO_ERROR when a
// write fails.
int copy_index(int disk, int part, bool to_backup);

// Copies absolute sectors 187 .. 20,010 of disk into the backup range starting at sector
// (capacity / 4,096 - 5) x 4,096 (to_backup) or back. Returns 0; FS_OUT_OF_RANGE when the disk
// is not attached or too small for the backup range to lie past the copied sectors;
// FS_READ_FAIL when a read fails; FS_IO_ERROR when a write fails.
int backup_dir(int disk, bool to_backup);

}  // namespace krt
