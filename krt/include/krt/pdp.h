// Parameter blocks: loading a partition's block into a driver-table entry, reading its
// collision table, writing a driver back, and freeing an entry.
//
// Every function takes library_lock() for its whole run.
#pragma once

#include <cstdint>

#include "krt/driver.h"

namespace krt {

// Loads the parameter block at relative sector 24 of the partition starting at absolute
// sector start into the entry of (disk, part), or into the first free entry when there is
// none. Keeps the slot's collision copy and sections; sets start_sector, dev and part, clears
// dirty and the ring links. The collision table is read apart (load_collision_table), once the
// block is known to fit its partition, so that a damaged coll_sec never sends a read outside it.
// Returns the entry, or null when the sector cannot be read, the block has no magic (error
// "temp sec check flag error"), its type is the free marker kDriverFree (error), or every
// entry is in use (error "the driver table is full: ...").
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

}  // namespace krt
