// The version block and the partition table of a disk, read and written through the cache.
#pragma once

#include "krt/layout.h"

namespace krt {

constexpr int kVersion04 = 1;     // check_disk_ver: the disk carries a version 0.4 block
constexpr int kVersionOther = 3;  // check_disk_ver: any other (or an unreadable) sector 0

// Checks the version block of disk. Sets result to kVersion04 or kVersionOther (also when
// sector 0 cannot be read). Returns 0, or FS_IO_ERROR when sector 20 cannot be read (result
// is then left alone).
int check_disk_ver(int disk, int& result);

// Reads min(count, 4) partitions of disk into out (legacy rule in layout.h). Returns 0, 1 when
// the disk has no version 0.4 block, or FS_IO_ERROR when sector 20 cannot be read.
int krt_read_partitions(int disk, Partition* out, int count);

// Writes min(count, 4) partitions into the table of disk (the other entries get start and
// size 0). A disk without a version 0.4 block gets a fresh table header and version block.
// Returns 0; 1 when two given partitions of non-zero size overlap (nothing is changed, not
// even in the cache; partitions that only touch are fine); FS_IO_ERROR when a sector cannot be
// read or written.
int krt_write_partitions(int disk, const Partition* in, int count);

}  // namespace krt
