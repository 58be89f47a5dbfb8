// Drivers: the in-memory entry of a mounted partition, and the table that holds them.
//
// A driver is one KRT partition of one disk, identified by (dev, part). Its entry carries the
// fields of the partition's parameter block plus a few words that live in memory only (the
// disk and partition it belongs to, its first absolute sector, the links of its type ring and
// its companion buffers). The table has 32 entries; each slot owns, for its whole life, a
// 512-byte copy of the partition's collision table and an array of 130 time sections.
//
// The table is filled by mounting; the disk layer reads it to classify disk errors. Callers
// hold library_lock() while they use the table or an entry of it.
#pragma once

#include <cstdint>

#include "krt/layout.h"

namespace krt {

constexpr int kMaxDrivers = 32;              // entries of the driver table
constexpr int kSectionsPerDriver = 130;      // time sections of each entry
constexpr uint32_t kDriverFree = 255;        // type of a free entry
constexpr uint32_t kErrStateDiskError = 15;  // err_state of a driver hit by a disk error

struct DriverParam;

// A run of clusters inside which recording times rise (memory only). Kept current by mounting
// and by the recording-side transitions; the time search works through the last four words.
struct TimeSection {
  DriverParam* owner;      // the driver the section belongs to
  TimeSection* next;       // link of the time search's candidate list
  uint32_t start_time;     // packed time of the section's first cluster
  uint32_t end_time;       // packed time of the section's last cluster
  uint32_t start_cluster;  // first cluster
  uint32_t end_cluster;    // last cluster
  uint32_t cursor;         // time search: cluster where the search stands
  int32_t state;           // time search: -1 exhausted, 0 untouched, 1 positioned, 2 candidate
  uint32_t cand_time;      // time search: time of the candidate
};

// A driver-table entry. Fields in the order of the parameter block; see layout.h and
// krt/FORMAT.md for their meaning.
struct DriverParam {
  // ---- Stored in the parameter block ----
  uint8_t lap;               // lap counter, 1..255 (0 on a new format)
  uint32_t status;           // kStatusClean = closed cleanly, 0 = recording in progress
  uint32_t start_time1;      // first recording of the current lap
  uint32_t end_time1;        // last recording of the current lap
  uint32_t current_cluster;  // last cluster written on the current lap; 0 = none
  uint32_t start_cluster2;   // first cluster of the older lap; 0 = none
  uint32_t end_cluster2;     // last cluster of the older lap
  uint32_t start_time2;      // start time of the older lap
  uint32_t end_time2;        // end time of the older lap
  uint32_t sector_bytes;     // 512
  uint32_t sector_per_clus;  // sectors per cluster
  uint32_t rev_clus;         // reserved clusters; the first recording cluster
  uint32_t index_off;        // relative first sector of the cluster index; 0 = no index
  uint32_t temp_off;         // relative sector of the parameter block (24)
  uint32_t dir_off;          // relative first sector of the directory (187)
  uint32_t data_off;         // relative sector of cluster 0
  uint32_t total_clus;       // number of clusters
  uint32_t error_clus;       // clusters in error
  uint32_t type;             // driver type 0..5; kDriverFree = free table entry
  uint32_t ud_start;         // relative first sector of the user-data area
  uint32_t ud_item_size;     // bytes of a user-data item (16)
  uint32_t ud_items;         // user-data items (0x280000)
  uint32_t ud_first_item;    // oldest live user-data item
  uint32_t ud_last_item;     // next user-data item to write
  uint32_t saved_cluster;    // current_cluster at the last save
  uint32_t restore_from;     // cluster the index is rebuilt from after an unclean stop
  uint32_t second_dir;       // relative first sector of the second directory copy
  uint32_t reserve_a_start;  // reserved sub-area A
  uint32_t reserve_a_size;   //
  uint32_t err_state;        // 0 = good, kErrStateDiskError = disk error
  uint32_t coll_sec;         // relative sector of the collision table
  uint32_t coll_count;       // collisions in the table, 0..128
  uint32_t cur_section;      // time section holding current_cluster
  uint32_t reserve_b_start;  // reserved sub-area B
  uint32_t reserve_b_size;   //

  // ---- Memory only (written with a save, meaningless on disk, overwritten by loading) ----
  uint8_t dirty;             // the collision copy changed and is written with the next save
  int32_t dev;               // disk index
  int32_t part;              // partition number 0..3
  uint64_t start_sector;     // absolute first sector of the partition
  DriverParam* prev_drv;     // previous driver of the same type's ring; null = none
  DriverParam* next_drv;     // next driver of the same type's ring; null = none
  uint8_t* coll_copy;        // the slot's 512-byte copy of the collision table
  TimeSection* sections;     // the slot's kSectionsPerDriver time sections
};

// Fills the stored fields of p from a 336-byte parameter block; a stored coll_sec of 0 reads as
// temp_off + 4. The memory-only fields of p are left as they are. Returns false (p untouched)
// when the magic word at 328 is not kParamMagic.
bool decode_driver_param(const uint8_t* block, DriverParam& p);

// Writes p into a 336-byte parameter block: every stored field, dirty, dev, part and
// start_sector as held, zero for the link words and the word at 180, and the magic. Bytes
// marked "not used" are left as they are.
void encode_driver_param(const DriverParam& p, uint8_t* block);

// ---- The driver table -------------------------------------------------------------------

// Marks every entry free (type kDriverFree, all other words zero), zeroes the companion
// buffers and points each entry at its own collision copy and sections.
void reset_driver_table();

// How many times reset_driver_table has run. Tables whose records point into the driver table
// (the file handles) compare it with the count they were last cleared at: a record made before
// a reset points at drivers that are gone.
uint32_t driver_table_resets();

// The entry of slot 0..kMaxDrivers-1 (free or not); null for another slot number.
DriverParam* driver_slot(int slot);

// Whether an entry is in use (its type is not kDriverFree).
bool driver_in_use(const DriverParam& p);

// The entry in use for (disk, part); null when there is none.
DriverParam* get_pdp(int disk, int part);

// The first free slot. Returns its number, or -1 after the error "the driver table is full: ..."
// when all kMaxDrivers entries are in use.
int get_empty_driver();

// Frees one entry of the table, keeping its companion buffers (zeroed); a record that is not
// a table entry is left alone. Returns nothing.
void free_driver_slot(DriverParam& p);

}  // namespace krt
