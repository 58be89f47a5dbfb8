// The KRT disk layout: fixed sectors, on-disk records and the arithmetic that places a
// partition's areas.
//
// A KRT disk holds a version block in sector 0 and a partition table in sector 20. Each
// partition is laid out as a fixed sequence of areas (relative sectors, P = sectors per
// cluster):
//
//   0     free (24 sectors)
//   24    parameter block (one sector, 336 bytes used)
//   28    collision table (one sector)
//   187   directory, first copy (dir_size sectors, 32-byte items)
//   dir_size + 256        directory, second copy (dir_size sectors)
//   2 * dir_size + 256    cluster index (index_size sectors, one byte per cluster)
//   data_off              data area: total_clus clusters of P sectors; the first rev_clus
//                         clusters are reserved and hold the user-data area
//
// Records are described here as structs made only of byte arrays: they have no padding and
// byte alignment, their offsets are checked with static_assert against the format, and code
// reads a field with ld32(block + offsetof(Record, field)), never by casting a sector pointer.
// Every integer is little-endian; krt/FORMAT.md describes each field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace krt {

// Little-endian integer fields of on-disk records.
using le16 = uint8_t[2];
using le32 = uint8_t[4];
using le64 = uint8_t[8];

// ---- Fixed sectors and values -------------------------------------------------------------

constexpr uint64_t kVersionSector = 0;          // absolute sector of the version block
constexpr uint64_t kPartitionTableSector = 20;  // absolute sector of the partition table
constexpr int kMaxPartitions = 4;               // entries of the partition table
constexpr uint32_t kParamMagic = 0x789abcde;    // marks a parameter block (and the table header)
constexpr uint32_t kTempOff = 24;               // relative sector of the parameter block
constexpr uint32_t kCollSec = 28;               // relative sector of the collision table
constexpr uint32_t kFirstDirStartSec = 187;     // relative sector of the first directory copy
constexpr uint32_t kStatusClean = 0xaa;         // status of a partition closed cleanly
constexpr uint32_t kUdItemSize = 16;            // bytes of a user-data item
constexpr uint32_t kUdItems = 0x280000;         // user-data items of a partition
constexpr uint32_t kUdAreaOffset = 40960;       // user-data area start, relative to data_off
constexpr int kMaxCollisions = 128;             // entries of the collision table
constexpr int kDirItemsPerSector = 16;          // 32-byte directory items per sector
constexpr int kIndexBytesPerSector = 512;       // index bytes per sector

// ---- Version block (absolute sector 0) ----------------------------------------------------

struct VersionBlockDisk {
  uint8_t version[7];     // "KRT0.4" and a zero byte ("KRT0.3" on old disks)
  uint8_t unused_7[503];  // not used
  uint8_t sig_t;          // 'T'
  uint8_t sig_s;          // 'S'
};
static_assert(sizeof(VersionBlockDisk) == 512);
static_assert(offsetof(VersionBlockDisk, sig_t) == 510 && offsetof(VersionBlockDisk, sig_s) == 511);

// Whether a sector 0 is a version 0.4 block ("KRT0.4\0", then 'T' 'S' at 510 and 511).
bool is_version_04(const uint8_t* sector0);

// Whether a sector 0 is an old version 0.3 block (its first 7 bytes are "KRT0.3\0").
bool is_version_03(const uint8_t* sector0);

// Writes a fresh version 0.4 block: 512 zero bytes, "KRT0.4\0" at 0, 'T' 'S' at 510.
void write_version_block(uint8_t* sector0);

// ---- Partition table (absolute sector 20) -------------------------------------------------

struct PartitionEntryDisk {
  le64 start;             // first absolute sector of the partition
  le64 size;              // size in sectors; 0 = no partition (but see the legacy rule)
  uint8_t unused_16[12];  // not used
  le32 legacy_param;      // old disks: absolute sector of the parameter block; written as 24
  uint8_t unused_32[24];  // not used
  le32 in_use;            // 1 for every entry written
  uint8_t unused_60[4];   // not used
};
static_assert(sizeof(PartitionEntryDisk) == 64);
static_assert(offsetof(PartitionEntryDisk, size) == 8);
static_assert(offsetof(PartitionEntryDisk, legacy_param) == 28);
static_assert(offsetof(PartitionEntryDisk, in_use) == 56);

struct PartitionTableDisk {
  uint8_t zero_0[36];  // zero
  le32 word_36;        // 0
  le32 word_40;        // 3
  le32 magic;          // kParamMagic
  le32 word_48;        // 3
  le32 word_52;        // 1
  PartitionEntryDisk entry[kMaxPartitions];
};
static_assert(sizeof(PartitionTableDisk) == 312);
static_assert(offsetof(PartitionTableDisk, word_36) == 36);
static_assert(offsetof(PartitionTableDisk, magic) == 44);
static_assert(offsetof(PartitionTableDisk, word_52) == 52);
static_assert(offsetof(PartitionTableDisk, entry) == 56);

// A partition as the library uses it: absolute first sector and size in sectors (0 = empty).
struct Partition {
  uint64_t start;  // first absolute sector
  uint64_t size;   // sectors; 0 = no partition
};

// Reads min(count, 4) entries of a partition table sector into out, applying the legacy rule:
// an entry in use with size 0 starts at (its parameter sector - 24) and runs up to the next
// entry's parameter sector (size 0 for the last entry or when the next has none).
// Returns the number of entries filled.
int decode_partition_table(const uint8_t* sector, Partition* out, int count);

// Writes the header words of a table created from nothing into the first 56 bytes of sector.
void write_partition_table_header(uint8_t* sector);

// ---- Parameter block (relative sector 24, 336 bytes) ---------------------------------------

// "memory" marks words that belong to the in-memory driver entry only: their stored values
// mean nothing and loading overwrites them.
struct DriverParamDisk {
  uint8_t unused_0[8];        // not used
  uint8_t lap;                // lap counter, 1..255 (0 on a new format)
  uint8_t dirty;              // memory: the collision table is to be written
  uint8_t unused_10[2];       // not used
  le32 status;                // kStatusClean = closed cleanly, 0 = recording in progress
  le32 start_time1;           // first recording of the current lap
  le32 end_time1;             // last recording of the current lap
  le32 current_cluster;       // last cluster written on the current lap; 0 = none
  le32 start_cluster2;        // first cluster of the older lap; 0 = none
  le32 end_cluster2;          // last cluster of the older lap
  le32 start_time2;           // start time of the older lap
  le32 end_time2;             // end time of the older lap
  le32 sector_bytes;          // 512
  le32 sector_per_clus;       // sectors per cluster
  uint8_t unused_52[4];       // not used
  le32 rev_clus;              // reserved clusters; the first recording cluster
  le32 index_off;             // relative first sector of the cluster index; 0 = no index
  le32 temp_off;              // 24
  le32 dir_off;               // 187
  le32 data_off;              // relative sector of cluster 0
  le32 total_clus;            // number of clusters
  le32 error_clus;            // clusters in error
  le32 type;                  // driver type 0..5
  le32 ud_start;              // relative first sector of the user-data area
  le32 ud_item_size;          // 16
  le32 ud_items;              // 0x280000
  le32 ud_first_item;         // oldest live user-data item
  le32 ud_last_item;          // next user-data item to write
  le32 dev;                   // memory: disk index
  le32 saved_cluster;         // current_cluster at the last save
  le32 restore_from;          // cluster the index is rebuilt from after an unclean stop
  le32 prev_drv;              // memory: ring link
  le32 next_drv;              // memory: ring link
  uint8_t unused_128[8];      // not used
  le32 second_dir;            // relative first sector of the second directory copy
  le32 part;                  // memory: partition number
  le32 reserve_a_start;       // reserved sub-area A
  le32 reserve_a_size;        //
  le32 err_state;             // 0 = good, 15 = disk error
  le32 coll_sec;              // relative sector of the collision table (0 reads as temp_off + 4)
  le32 coll_count;            // collisions in the table, 0..128
  le32 cur_section;           // time section holding current_cluster
  le32 coll_copy;             // memory: link to the collision copy
  le32 sections;              // memory: link to the time sections
  uint8_t unused_176[4];      // not used
  le32 word_180;              // memory: cleared when loaded
  le32 reserve_b_start;       // reserved sub-area B
  le32 reserve_b_size;        //
  uint8_t unused_192[32];     // not used
  le64 start_sector;          // memory: absolute first sector of the partition
  uint8_t unused_232[96];     // not used
  le32 magic;                 // kParamMagic; a block without it is refused
  uint8_t unused_332[4];      // not used
};
static_assert(sizeof(DriverParamDisk) == 336);
static_assert(offsetof(DriverParamDisk, lap) == 8 && offsetof(DriverParamDisk, dirty) == 9);
static_assert(offsetof(DriverParamDisk, status) == 12);
static_assert(offsetof(DriverParamDisk, start_time1) == 16);
static_assert(offsetof(DriverParamDisk, end_time1) == 20);
static_assert(offsetof(DriverParamDisk, current_cluster) == 24);
static_assert(offsetof(DriverParamDisk, start_cluster2) == 28);
static_assert(offsetof(DriverParamDisk, end_cluster2) == 32);
static_assert(offsetof(DriverParamDisk, start_time2) == 36);
static_assert(offsetof(DriverParamDisk, end_time2) == 40);
static_assert(offsetof(DriverParamDisk, sector_bytes) == 44);
static_assert(offsetof(DriverParamDisk, sector_per_clus) == 48);
static_assert(offsetof(DriverParamDisk, rev_clus) == 56);
static_assert(offsetof(DriverParamDisk, index_off) == 60);
static_assert(offsetof(DriverParamDisk, temp_off) == 64);
static_assert(offsetof(DriverParamDisk, dir_off) == 68);
static_assert(offsetof(DriverParamDisk, data_off) == 72);
static_assert(offsetof(DriverParamDisk, total_clus) == 76);
static_assert(offsetof(DriverParamDisk, error_clus) == 80);
static_assert(offsetof(DriverParamDisk, type) == 84);
static_assert(offsetof(DriverParamDisk, ud_start) == 88);
static_assert(offsetof(DriverParamDisk, ud_item_size) == 92);
static_assert(offsetof(DriverParamDisk, ud_items) == 96);
static_assert(offsetof(DriverParamDisk, ud_first_item) == 100);
static_assert(offsetof(DriverParamDisk, ud_last_item) == 104);
static_assert(offsetof(DriverParamDisk, dev) == 108);
static_assert(offsetof(DriverParamDisk, saved_cluster) == 112);
static_assert(offsetof(DriverParamDisk, restore_from) == 116);
static_assert(offsetof(DriverParamDisk, prev_drv) == 120);
static_assert(offsetof(DriverParamDisk, next_drv) == 124);
static_assert(offsetof(DriverParamDisk, second_dir) == 136);
static_assert(offsetof(DriverParamDisk, part) == 140);
static_assert(offsetof(DriverParamDisk, reserve_a_start) == 144);
static_assert(offsetof(DriverParamDisk, reserve_a_size) == 148);
static_assert(offsetof(DriverParamDisk, err_state) == 152);
static_assert(offsetof(DriverParamDisk, coll_sec) == 156);
static_assert(offsetof(DriverParamDisk, coll_count) == 160);
static_assert(offsetof(DriverParamDisk, cur_section) == 164);
static_assert(offsetof(DriverParamDisk, coll_copy) == 168);
static_assert(offsetof(DriverParamDisk, sections) == 172);
static_assert(offsetof(DriverParamDisk, word_180) == 180);
static_assert(offsetof(DriverParamDisk, reserve_b_start) == 184);
static_assert(offsetof(DriverParamDisk, reserve_b_size) == 188);
static_assert(offsetof(DriverParamDisk, start_sector) == 224);
static_assert(offsetof(DriverParamDisk, magic) == 328);

// ---- Area arithmetic --------------------------------------------------------------------

// Where the areas of a freshly formatted partition lie (relative sectors). A mounted
// partition takes its offsets from its parameter block, never from this arithmetic.
struct AreaLayout {
  uint32_t sector_per_clus;  // P
  uint32_t dir_size;         // sectors of one directory copy: A * 3,072
  uint32_t index_size;       // sectors of the cluster index: A * 96
  uint32_t dir_off;          // first directory copy: 187
  uint32_t second_dir;       // second directory copy: dir_size + 256
  uint32_t index_off;        // cluster index: 2 * dir_size + 256
  uint32_t data_off;         // cluster 0: index end rounded up to a multiple of 256
  uint32_t total_clus;       // (S - data_off) / P
  uint32_t rev_clus;         // min(S / 50, 262,144) / P
  uint32_t reserve_a_start;  // data_off when rev_clus * P > 16,384, else 0
  uint32_t reserve_a_size;   // 16,384 when present, else 0
  uint32_t reserve_b_start;  // data_off + 20,480 when rev_clus * P > 40,960, else 0
  uint32_t reserve_b_size;   // 20,480 when present, else 0
  uint32_t ud_start;         // data_off + 40,960
};

// Computes the layout of a partition of `sectors` sectors with P = sector_per_clus, where
// n = S / P and A = ceiling(n / 49,152). Returns false (out untouched) when P is 0, when n does
// not fit 32 bits, or when the partition is smaller than its metadata (S < data_off).
bool compute_layout(uint64_t sectors, uint32_t sector_per_clus, AreaLayout& out);

}  // namespace krt
