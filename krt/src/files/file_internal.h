// Helpers shared by the units of the file layer (handles, reading, time search, moves).
// Callers hold library_lock().
#pragma once

#include <cstdint>
#include <source_location>

#include "krt/file.h"

namespace krt {

// check_handle, and also refuses a record that is free (closed). Returns FS_OK or
// FS_INVALID_HANDLE.
int check_open_handle(const FILEHANDLE* h,
                      std::source_location where = std::source_location::current());

// Marks a record free again (an allocation that is given back). Returns nothing.
void release_handle(FILEHANDLE& h);

// Reads count sectors of h's current cluster, from sector `offset` of the cluster, straight
// into buf (several transfers when count exceeds 16 bits). Returns FS_OK, or FS_READ_FAIL when
// a transfer fails or the range would leave the disk (nothing is read then).
int read_cluster_sectors(const FILEHANDLE& h, uint32_t offset, uint32_t count, uint8_t* buf);

// Writes count sectors from buf into h's current cluster, from sector `offset` of the cluster,
// as read_cluster_sectors reads. Returns FS_OK, or FS_IO_ERROR when a transfer fails or the
// range would leave the disk (nothing is written then).
int write_cluster_sectors(const FILEHANDLE& h, uint32_t offset, uint32_t count, const uint8_t* buf);

// Whether a directory item names a next cluster of its file.
inline bool has_down_cluster(const DirItem& item) {
  return item.down_cluster_no != 0 && item.down_cluster_no != kNoNextCluster;
}

// Where a handle stands: the fields that positioning operations change. A failed operation
// puts them back, so that a handle is never left half moved.
struct HandlePosition {
  DriverParam* pdp;
  uint32_t first_cluster, cur_cluster, cur_offset, up_cluster, curr_clus_num, clus_sectors;
  uint8_t channel, AV, alarm, image;
  DirItem cur_dir_info;
};

HandlePosition save_position(const FILEHANDLE& h);
void restore_position(FILEHANDLE& h, const HandlePosition& p);

// Puts the handle on cluster c, whose directory item the caller has read already (load_clus
// without the read). Returns FS_OK, or FS_BAD_CLUSTER (nothing changed) when c is not a data
// cluster or the driver's sector_per_clus is 0.
int load_item(FILEHANDLE& h, uint32_t c, const DirItem& item);

// load_clus without the handle check: reads cluster c's item and puts the handle on c.
// Returns as load_clus; nothing changes on failure.
int load_cluster(FILEHANDLE& h, uint32_t c);

// Moves a positioned handle onto the next cluster of its file: the next cluster of the file's
// channel in the index, whose item must name the same first cluster. Returns FS_OK;
// FS_READ_FAIL when the file has no further cluster (the handle stays); the search's and the
// directory accessor's errors.
int step_to_next_cluster(FILEHANDLE& h);

// The next cluster of h's file after cluster `from`, as step_to_next_cluster finds it, without
// moving the handle. Returns as step_to_next_cluster, with *next and *item set on FS_OK.
int next_cluster_of_file(const FILEHANDLE& h, uint32_t from, uint32_t& next, DirItem& item);

// What a read of the recording whose first cluster is c would find, followed as a read follows
// it (first cluster, then step_to_next_cluster while an item names a next cluster), at most
// `wanted` sectors and so at most wanted / sector_per_clus + 1 steps; every step moves forward
// in the index, so a looping chain cannot hold it. Sets `sectors` to the sectors that can really
// be read (at most `wanted`). Returns FS_OK; FS_NO_EXIST_FILE when c is not the first cluster of
// a file of channel `channel` (an open of it is refused); load_cluster's errors.
int readable_sectors(DriverParam* pdp, uint32_t c, uint8_t channel, uint64_t wanted, uint64_t& sectors);

// Seconds of recording covered by the current cluster: end_time - start_time of cur_dir_info,
// divided by the file's last ordinal (at least 1) in a file's first cluster, whose times and
// item_num describe the whole file. May be 0 or negative on a broken item.
int32_t covered_seconds(const FILEHANDLE& h);

}  // namespace krt
