// Cluster index bytes, directory items and the index search.
//
// Every cluster c of a partition is described twice:
//   - one byte of the cluster index, at relative sector index_off + c / 512, byte c % 512:
//     what the cluster is (its flag) and which channel owns it;
//   - one 32-byte directory item, at relative sector dir_off + c / 16, bytes 32 * (c % 16) on:
//     which file it belongs to, its times and its neighbours.
// A recording ("file") is a chain of clusters of one channel linked through the items'
// down_cluster_no; its first cluster's item summarises the whole file. Searches run over the
// index (get_next_clus_no); only the clusters found are looked up in the directory.
//
// All accessors work through the sector cache and take library_lock(). They return FS_OK,
// FS_IO_ERROR when the cache gives no buffer for a sector, and (directory accessors only)
// FS_BAD_CLUSTER for c > total_clus, logged as the error "GET_DIR_ITEM(disk c) failed!".
// Setters change the cached sector and mark it dirty; with write_now they also write it
// (FS_IO_ERROR when that write fails), otherwise it is written on a later flush or recycle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "krt/driver.h"
#include "krt/layout.h"

namespace krt {

// ---- Index byte ------------------------------------------------------------------------

constexpr uint8_t kIndexFlagInside = 0;     // a later cluster of a file, or free
constexpr uint8_t kIndexFlagContinued = 1;  // first cluster of a file continuing a cut recording
constexpr uint8_t kIndexFlagFirst = 2;      // first cluster of a file
constexpr uint8_t kIndexFlagBad = 3;        // bad or reserved cluster, never used
constexpr uint8_t kAnyChannel = 255;        // channel argument matching every channel

// Bits 0-1 of an index byte.
inline uint8_t index_flag(uint8_t b) { return b & 3; }

// Bits 2-7 of an index byte.
inline uint8_t index_channel(uint8_t b) { return b >> 2; }

// Sets out to channel * 4 + (flag mod 4) (the channel is taken modulo 64).
void make_index_item(uint8_t& out, uint8_t channel, uint8_t flag);

// ---- Directory item ------------------------------------------------------------------------

constexpr uint8_t kDirFlagNever = 0;        // never written
constexpr uint8_t kDirFlagLater = 1;        // a later cluster of a file
constexpr uint8_t kDirFlagFirst = 2;        // first cluster of a file
constexpr uint8_t kDirFlagContinued = 3;    // first cluster of a file continuing a cut recording
constexpr uint8_t kDirFlagReserved = 0xFE;  // reserved cluster
constexpr uint32_t kNoNextCluster = 0xFFFFFFFF;  // down_cluster_no of a cluster being written

struct DirItemDisk {
  uint8_t alarm;             // record type of the file, 0..4
  uint8_t dir_flag;          // kDirFlag*
  le16 item_num;             // ordinal in the file; in a first cluster: ordinal of the last
  le32 up_cluster_no;        // cluster written before; in a first cluster: user-data item number
  le32 down_cluster_no;      // next cluster of the file; 0 or kNoNextCluster = none
  le32 start_time;           // packed time of the first data in the cluster
  le32 end_time;             // packed time of the last data; in a first cluster: the file's end
  le16 hdr_sectors;          // set by the writer, not read here
  le16 end_length;           // in a first cluster: sectors used in the file's last cluster
  le32 first_cluster_no;     // first cluster of the file
  uint8_t unused_28;         // not used (kept as found)
  uint8_t image;             // image code
  uint8_t repeat_no;         // the writer's file counter
  uint8_t channel_av;        // bits 2-7 channel, bits 0-1 AV code
};
static_assert(sizeof(DirItemDisk) == 32);
static_assert(offsetof(DirItemDisk, item_num) == 2);
static_assert(offsetof(DirItemDisk, up_cluster_no) == 4);
static_assert(offsetof(DirItemDisk, down_cluster_no) == 8);
static_assert(offsetof(DirItemDisk, start_time) == 12);
static_assert(offsetof(DirItemDisk, end_time) == 16);
static_assert(offsetof(DirItemDisk, hdr_sectors) == 20);
static_assert(offsetof(DirItemDisk, end_length) == 22);
static_assert(offsetof(DirItemDisk, first_cluster_no) == 24);
static_assert(offsetof(DirItemDisk, unused_28) == 28);
static_assert(offsetof(DirItemDisk, image) == 29);
static_assert(offsetof(DirItemDisk, repeat_no) == 30);
static_assert(offsetof(DirItemDisk, channel_av) == 31);

// A directory item in memory (fields as in DirItemDisk; channel and AV unpacked).
struct DirItem {
  uint8_t alarm;              // record type of the file, 0..4
  uint8_t dir_flag;           // kDirFlag*
  uint16_t item_num;          // ordinal in the file (first cluster: ordinal of the last)
  uint32_t up_cluster_no;     // previous cluster written (first cluster: user-data item)
  uint32_t down_cluster_no;   // next cluster of the file; 0 or kNoNextCluster = none
  uint32_t start_time;        // packed time
  uint32_t end_time;          // packed time
  uint16_t hdr_sectors;       // set by the writer
  uint16_t end_length;        // first cluster: sectors used in the file's last cluster
  uint32_t first_cluster_no;  // first cluster of the file
  uint8_t unused_28;          // byte 28, kept as found
  uint8_t image;              // image code
  uint8_t repeat_no;          // the writer's file counter
  uint8_t channel;            // 0..63
  uint8_t av;                 // AV code 0..3
};

// Decodes the 32 bytes of an item.
DirItem decode_dir_item(const uint8_t* bytes);

// Encodes an item into 32 bytes (channel and AV masked to their bits).
void encode_dir_item(const DirItem& item, uint8_t* bytes);

// What a file's first cluster says about the file (memory only).
struct FileInfo {
  uint8_t channel;            // 0..63
  uint8_t alarm;              // record type
  uint8_t av;                 // AV code
  uint8_t image;              // image code
  uint8_t repeat_no;          // the writer's file counter
  uint32_t start_time;        // packed time
  uint32_t end_time;          // packed time
  uint32_t size_kb;           // (item_num * sector_per_clus + end_length) / 2
  int32_t disk;               // disk index of the driver
  int32_t part;               // partition of the driver
  uint32_t first_cluster_no;  // first cluster
  uint32_t up_cluster_no;     // user-data item number (0 = none)
};

// ---- Directory accessors -------------------------------------------------------------------

// Copies cluster c's item into out.
int get_dir_item_info(const DriverParam& pdp, uint32_t c, DirItem& out);

// Sets out to cluster c's start_time.
int get_dir_item_time(const DriverParam& pdp, uint32_t c, uint32_t& out);

// The end time an item stands for: its end_time, or start_time + 1 s when end_time equals
// start_time (a recording shorter than a second ends one second after its start). Listings
// name a recording with it, so a name depends on the disk alone.
uint32_t item_end_time(const DirItem& item);

// Sets out to the end time of cluster c: the start_time of its next cluster when it has one,
// else item_end_time of its item. Reads only: the cached item is never changed.
int get_dir_item_time1(const DriverParam& pdp, uint32_t c, uint32_t& out);

// Stores all 32 bytes of cluster c's item.
int set_dir_item_info(const DriverParam& pdp, uint32_t c, const DirItem& item, bool write_now);

// Stores down_cluster_no. With write_now the sector is written only when c and next lie in
// different directory sectors (the caller writes next's sector itself).
int set_dir_item_down_clus(const DriverParam& pdp, uint32_t c, uint32_t next, bool write_now);

// Stores up_cluster_no.
int set_dir_item_up_clus(const DriverParam& pdp, uint32_t c, uint32_t value, bool write_now);

// Stores end_time.
int set_dir_item_end_time(const DriverParam& pdp, uint32_t c, uint32_t end_time, bool write_now);

// Closes a last cluster: stores end_time, end_length and down_cluster_no = 0.
int set_dir_last_item(const DriverParam& pdp, uint32_t c, uint16_t end_length, uint32_t end_time,
                      bool write_now);

// Summarises a file in its first cluster: stores end_time, end_length and item_num.
int set_dir_first_item(const DriverParam& pdp, uint32_t c, uint16_t end_length, uint16_t item_num,
                       uint32_t end_time, bool write_now);

// Fills a fresh item (byte 28 is left as it was): both times = time_now(), down_cluster_no =
// kNoNextCluster, end_length 0, repeat_no = the writer's 8-bit file counter, which advances
// after an item with item_num 0.
void init_dir_item(DirItem& item, uint8_t channel, uint8_t av, uint8_t alarm, uint8_t image,
                   uint8_t dir_flag, uint32_t up, uint32_t first, uint16_t item_num,
                   uint16_t hdr_sectors);

// Sets the writer's file counter back to 0. The writer does this whenever its clock has moved
// on since the last write, so repeat_no counts the files started within one second.
void reset_repeat_counter();

// The sectors of the file whose first cluster's item is `first`: item_num x sector_per_clus +
// end_length, but never more than the driver's recording clusters hold ((total_clus - rev_clus)
// x sector_per_clus), so a damaged item count cannot make a file larger than its partition.
uint64_t file_size_sectors(const DriverParam& pdp, const DirItem& first);

// Fills out from cluster c's item; disk and partition come from the driver.
int get_file_item_info(const DriverParam& pdp, uint32_t c, FileInfo& out);

// ---- Index accessors ------------------------------------------------------------------

// Sets out to cluster c's index byte.
int get_index_item_info(const DriverParam& pdp, uint32_t c, uint8_t& out);

// Stores cluster c's index byte, unless the stored byte is marked bad (then nothing changes
// and the result is still FS_OK).
int set_index_item_info(const DriverParam& pdp, uint32_t c, uint8_t byte, bool write_now);

// Marks cluster c bad (flag 3, channel kept) and writes the sector at once.
int set_bad_clus(const DriverParam& pdp, uint32_t c);

// ---- Index search ------------------------------------------------------------------------

// Kinds of scan_index. "Matching" = flag not bad and channel matching (kAnyChannel matches all).
constexpr int kScanWritable = 1;           // forward to total_clus - 1: first not-bad cluster
constexpr int kScanNext = 2;               // forward: first matching cluster
constexpr int kScanNextFile = 3;           // forward: first matching file start (flag 1 or 2)
constexpr int kScanNextOrFirst = 4;        // forward: first matching; kScanAtFileStart if flag 2
constexpr int kScanNextBad = 5;            // forward: first bad cluster
constexpr int kScanSelf = 6;               // `from` itself
constexpr int kScanPrev = 7;               // backward: first matching cluster
constexpr int kScanPrevFile = 8;           // backward: first matching file start
constexpr int kScanNextInFile = 9;         // forward, from's own channel: flag 0 found,
                                           //   flag 1 or 2 gives kScanFileEnded
constexpr int kScanNextFileAny = 10;       // forward: first file start of any channel
constexpr int kScanPrevInFile = 11;        // backward: first matching; kScanAtFileStart at once
                                           //   when from's flag is not 0
constexpr int kScanPrevFromFirst = 12;     // backward: first matching; kScanAtFileStart at once
                                           //   when from has flag 2 and a matching channel

constexpr int kScanFileEnded = 11;    // scan result: the next cluster starts another file
constexpr int kScanAtFileStart = 12;  // scan result: stopped at (or on) a file's first cluster

// Searches the cluster index from cluster `from` (not included, except kScanSelf) for the
// cluster that `kind` asks for, inside [lower, upper]: with limit != 0, [limit, from] for the
// backward kinds and [from, limit] for the others; with limit 0, the lap part holding from:
// [rev_clus, current_cluster] when from <= current_cluster, else [current_cluster + 1,
// end_cluster2]. The upper bound never passes total_clus - 1. kScanWritable writes a fresh
// first-cluster item over each bad cluster at or after rev_clus that it passes (warning "jump
// over bad cluster").
// Returns FS_OK with out = the cluster found; kScanFileEnded or kScanAtFileStart (out set);
// FS_READ_FAIL when nothing is found inside the bounds or kind is unknown; FS_IO_ERROR when
// an index sector cannot be read; FS_NO_INDEX when the driver has no index.
int scan_index(const DriverParam& pdp, int kind, uint32_t from, uint32_t limit, uint8_t channel,
               uint32_t& out);

// scan_index for the file layer: the same results, except that kScanFileEnded becomes
// FS_READ_FAIL (nothing more in this file).
int get_next_clus_no(const DriverParam& pdp, int kind, uint32_t from, uint32_t limit,
                     uint8_t channel, uint32_t& out);

}  // namespace krt
