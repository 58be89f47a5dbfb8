// Formatting: laying a fresh KRT partition over a partition-table entry.
//
// krt_format_driver computes the areas of a partition (see layout.h, compute_layout), writes a
// new parameter block, clears the collision table, the user-data area, both directory copies
// and the cluster index, and marks the reserved clusters unusable in the directory and the
// index. clear_driver (mount.h) goes one step further for a disk whose version block or partition
// table cannot be used: it writes a table with one partition covering the whole disk and
// formats it.
//
// Every write goes through the sector cache or the direct transfers, and so through the write
// hook. With the default hook nothing reaches the disk: the fresh state lives in the cache
// (as far as the cache holds it) and the disk is left as it was.
//
// All functions take library_lock() themselves. Sector arguments are absolute.
#pragma once

#include <cstdint>

namespace krt {

constexpr uint32_t kStartupSectorsPerClus = 4096;  // sectors per cluster start-up formats with

// Formats partition `part` (0..3) of `disk` with `sector_per_clus` sectors per cluster. When
// the partition is mounted, its old cluster index is first saved into its last cluster.
// Returns 0 on success;
//   1 for a bad parameter (part outside 0..3, sector_per_clus not a non-zero power of two),
//     an unreadable partition table, a partition of size 0 or of more than 2^32 clusters, or
//     a partition too small to hold its user-data area inside its reserved clusters
//     (rev_clus * sector_per_clus below 40,960 + 81,920 sectors); each of the last three with
//     the warning "cannot re-initialise partition P of disk D: ..." saying which;
//   FS_IO_ERROR (4) when the parameter block or collision table sector cannot be read;
//   or the error of init_ud_area, init_dir_area or init_index_area.
int krt_format_driver(int disk, int part, uint32_t sector_per_clus);

// Clears the directory copies starting at first_start and second_start (each dir_size
// sectors; a start of 0 skips that copy) with direct zero transfers of 16 sectors, then marks
// the items of clusters 0 .. rev_clus - 1 of each cleared copy as reserved (dir_flag 0xFE)
// in the cache. Returns 0, or FS_IO_ERROR when a transfer fails or a sector cannot be read.
int init_dir_area(int disk, uint64_t first_start, uint64_t second_start, uint32_t rev_clus,
                  uint32_t dir_size);

// Clears the cluster index starting at index_start (index_size sectors; a start of 0 does
// nothing) with direct zero transfers of 16 sectors, then marks the index bytes of clusters
// 0 .. rev_clus - 1 bad (flag 3) in the cache. Returns 0, or FS_IO_ERROR when a transfer
// fails or a sector cannot be read.
int init_index_area(int disk, uint64_t index_start, uint32_t rev_clus, uint32_t index_size);

}  // namespace krt
