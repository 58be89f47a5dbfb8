// KRT disk image builder.
//
// Writes a sparse raw disk image in the KRT format from a declarative description: the version
// block, the partition table (current or legacy entries), and for each partition its parameter
// block, collision table, both directory copies, cluster index, user-data items and recording data.
// Tests, benchmarks and the demo disk use it.
//
// The builder keeps its own copy of every on-disk record layout and places every area from the
// formatter's arithmetic; it never calls the library's parsing code, so a misread offset on either
// side shows up as a failing test.
//
// How a description becomes an image:
//   - The areas of a partition come from `format_layout` (the formatter's arithmetic), with
//     `LayoutOverrides` for tests that need odd values.
//   - Every file is cut into clusters: `clusters` of them (or one per `seconds_per_cluster` of its
//     length), cluster k covering an equal share of the file's time. The clusters of all files of
//     a lap are written as a recorder writes them: in time order (ties by channel), run after run
//     (`File::run`), from the partition's first recording cluster `rev_clus` upwards. A run that
//     starts earlier than the previous one ended is a clock set back: its first cluster becomes a
//     collision.
//   - The older lap (`Partition::older_lap`) is laid first from `rev_clus`; the current lap
//     (`Partition::files`) is then laid over it, as a recorder that wrapped round overwrites its
//     oldest clusters. The parameter block gets `start_cluster2`/`end_cluster2` and the lap counter.
//   - An unclean partition (`Partition::unclean`) is the state of a recorder that lost power: status
//     0, a `current_cluster` that lags behind the real write position, the index bytes of the last
//     clusters not yet written, and files whose last cluster still has the down link 0xFFFFFFFF.
//   - Recording data is either absent (the sectors stay holes and read as zeros), a pattern that
//     names its own place (`pattern_sector`), or the bytes of a stream file.
//
// Example: one partition, 64 sectors per cluster, channels 0-3, three days of 15-minute files:
//
//   using namespace krt_testing;
//   Disk disk = single_partition_disk(600'000, 64);
//   disk.payload.kind = Payload::Kind::kNone;  // no recording data: fastest, smallest
//   disk.partitions[0].files = recordings(channel_range(0, 3), pack_time(2010, 3, 5, 0, 0, 0),
//                                         pack_time(2010, 3, 8, 0, 0, 0), 15 * 60);
//   BuildResult built = build_image(disk, path);
//   // built.ok, built.error; built.partitions[0].files[i].first_cluster, .repeat_no, ...
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace krt_testing {

// ---------------------------------------------------------------------------------------------
// Constants of the format
// ---------------------------------------------------------------------------------------------

inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint32_t kParamMagic = 0x789abcde;     // word 328 of a parameter block
inline constexpr uint32_t kStatusClean = 0xaa;          // `status` of a cleanly closed partition
inline constexpr uint32_t kDownOpen = 0xFFFFFFFF;       // down link of a cluster still being written
inline constexpr uint64_t kVersionSector = 0;           // absolute sector of the version block
inline constexpr uint64_t kTableSector = 20;            // absolute sector of the partition table
inline constexpr uint32_t kTempOff = 24;                // relative sector of the parameter block
inline constexpr uint32_t kCollSec = 28;                // relative sector of the collision table
inline constexpr uint32_t kDirOff = 187;                // relative sector of the first directory copy
inline constexpr uint32_t kUdItemSize = 16;
inline constexpr uint32_t kUdItems = 0x280000;
inline constexpr uint32_t kMaxCollisions = 128;

// ---------------------------------------------------------------------------------------------
// Packed time: bits 26-31 year - 2000, 22-25 month, 17-21 day, 12-16 hour, 6-11 minute, 0-5 second.
// ---------------------------------------------------------------------------------------------

// Packs a calendar time (year 2000..2063). Fields are not range-checked beyond masking.
uint32_t pack_time(int year, int month, int day, int hour, int minute, int second);

// Seconds from 2000-01-01 00:00:00 to the packed time t (calendar arithmetic, no time zone).
// A zero time gives 0.
int64_t seconds_since_2000(uint32_t t);

// The packed time `seconds` after 2000-01-01 00:00:00 (seconds >= 0).
uint32_t time_from_seconds(int64_t seconds);

// The packed time t moved by `seconds` (may be negative).
uint32_t add_seconds(uint32_t t, int64_t seconds);

// ---------------------------------------------------------------------------------------------
// Layout of a partition: the areas the formatter places (relative sectors, cluster counts).
// ---------------------------------------------------------------------------------------------

struct Layout {
  uint32_t sector_per_clus = 0;  // P
  uint32_t temp_off = kTempOff;  // parameter block
  uint32_t coll_sec = kCollSec;  // collision table
  uint32_t dir_off = kDirOff;    // first directory copy
  uint32_t dir_size = 0;         // sectors of one directory copy: A x 3,072
  uint32_t second_dir = 0;       // second directory copy: dir_size + 256
  uint32_t index_off = 0;        // cluster index: second_dir + dir_size (0 = no index)
  uint32_t index_size = 0;       // sectors of the index: A x 96
  uint32_t data_off = 0;         // cluster 0: index end rounded up to a multiple of 256
  uint32_t total_clus = 0;       // (S - data_off) / P
  uint32_t rev_clus = 0;         // reserved clusters: min(S / 50, 262,144) / P
  uint32_t ud_start = 0;         // user-data area: data_off + 40,960
  uint32_t reserve_a_start = 0;  // data_off when rev_clus x P > 16,384, else 0
  uint32_t reserve_a_size = 0;   // 16,384 or 0
  uint32_t reserve_b_start = 0;  // data_off + 20,480 when rev_clus x P > 40,960, else 0
  uint32_t reserve_b_size = 0;   // 20,480 or 0
};

// Values that replace the formatter's. Each one given also feeds the values computed after it
// (a larger dir_size moves second_dir, index_off, data_off and total_clus, unless they are given too).
struct LayoutOverrides {
  std::optional<uint32_t> dir_size;
  std::optional<uint32_t> second_dir;
  std::optional<uint32_t> index_off;
  std::optional<uint32_t> index_size;
  std::optional<uint32_t> data_off;
  std::optional<uint32_t> total_clus;
  std::optional<uint32_t> rev_clus;
  std::optional<uint32_t> ud_start;
};

// The formatter's layout for a partition of `sectors` sectors and `sector_per_clus` sectors per
// cluster (> 0), with the given overrides applied. With n = sectors / P and A = ceiling(n / 49,152):
// dir_size = 3,072 A, index_size = 96 A, second_dir = dir_size + 256, index_off = 2 dir_size + 256,
// data_off = (index_off + index_size) rounded up to 256, total_clus = (sectors - data_off) / P
// (0 when data_off >= sectors), rev_clus = min(sectors / 50, 262,144) / P, ud_start = data_off + 40,960.
Layout format_layout(uint64_t sectors, uint32_t sector_per_clus, const LayoutOverrides& overrides = {});

// ---------------------------------------------------------------------------------------------
// Records as the builder writes them (field names as on disk)
// ---------------------------------------------------------------------------------------------

// The 336-byte parameter block at relative sector 24, every field. Words that only mean something
// in the library's memory (dirty, dev, part, links, start_sector) are written with these values too.
struct ParamBlock {
  uint8_t lap = 0;
  uint8_t dirty = 0;
  uint32_t status = kStatusClean;
  uint32_t start_time1 = 0;
  uint32_t end_time1 = 0;
  uint32_t current_cluster = 0;
  uint32_t start_cluster2 = 0;
  uint32_t end_cluster2 = 0;
  uint32_t start_time2 = 0;
  uint32_t end_time2 = 0;
  uint32_t sector_bytes = kSectorBytes;
  uint32_t sector_per_clus = 0;
  uint32_t rev_clus = 0;
  uint32_t index_off = 0;
  uint32_t temp_off = kTempOff;
  uint32_t dir_off = kDirOff;
  uint32_t data_off = 0;
  uint32_t total_clus = 0;
  uint32_t error_clus = 0;
  uint32_t type = 0;
  uint32_t ud_start = 0;
  uint32_t ud_item_size = kUdItemSize;
  uint32_t ud_items = kUdItems;
  uint32_t ud_first_item = 1;
  uint32_t ud_last_item = 1;
  int32_t dev = 0;                // memory word: disk index
  uint32_t saved_cluster = 0;
  uint32_t restore_from = 0;
  uint32_t prev_drv = 0;          // memory word at 120
  uint32_t next_drv = 0;          // memory word at 124
  uint32_t second_dir = 0;
  int32_t part = 0;               // memory word: partition number
  uint32_t reserve_a_start = 0;
  uint32_t reserve_a_size = 0;
  uint32_t err_state = 0;
  uint32_t coll_sec = kCollSec;
  uint32_t coll_count = 0;
  uint32_t cur_section = 0;
  uint32_t coll_link = 0;         // memory word at 168
  uint32_t sections_link = 0;     // memory word at 172
  uint32_t word_180 = 0;          // memory word at 180
  uint32_t reserve_b_start = 0;
  uint32_t reserve_b_size = 0;
  uint64_t start_sector = 0;      // memory word: absolute first sector
  uint32_t magic = kParamMagic;   // word at 328
};

// One 32-byte directory item.
struct DirItem {
  uint8_t alarm = 0;              // record type 0..4
  uint8_t dir_flag = 0;           // 0 never written, 1 later cluster, 2 first, 3 first of a continuation, 0xFE reserved
  uint16_t item_num = 0;          // ordinal; in the first cluster the ordinal of the last cluster
  uint32_t up_cluster_no = 0;     // previous cluster of the file; in the first cluster the user-data item
  uint32_t down_cluster_no = 0;   // next cluster; 0 or 0xFFFFFFFF = last
  uint32_t start_time = 0;
  uint32_t end_time = 0;
  uint16_t hdr_sectors = 0;
  uint16_t end_length = 0;        // in the first and last cluster: sectors used in the last cluster
  uint32_t first_cluster_no = 0;
  uint8_t spare = 0;              // byte 28
  uint8_t image = 0;
  uint8_t repeat_no = 0;
  uint8_t channel = 0;            // 0..63, bits 2-7 of byte 31
  uint8_t av = 0;                 // 0..3, bits 0-1 of byte 31
};

// Index byte of a cluster: channel x 4 + flag (0 inside a file, 1 first of a continuation, 2 first,
// 3 bad or reserved).
inline uint8_t index_byte(uint8_t channel, uint8_t flag) { return uint8_t(channel * 4 + (flag & 3)); }

// A 12-byte user-data record: a card number of 20 BCD digits and a card type.
struct UserData {
  std::array<uint8_t, 10> card{};  // two digits per byte, low nibble first
  uint8_t card_type = 0;
};

// ---------------------------------------------------------------------------------------------
// Description of a disk
// ---------------------------------------------------------------------------------------------

// Where the recording data of a file comes from.
struct Payload {
  enum class Kind {
    kNone,     // nothing written: the data sectors are holes and read as zeros
    kPattern,  // every sector names its own place (see pattern_sector)
    kStream,   // the bytes of the file at `stream_path`, from its start, cut or zero-padded to size
    kBytes,    // `bytes` (shared, so files with the same content hold one copy), cut or zero-padded
  };
  Kind kind = Kind::kPattern;
  std::string stream_path;
  std::shared_ptr<const std::vector<uint8_t>> bytes;
};

// One recording: a chain of clusters of one channel.
struct File {
  uint8_t channel = 0;                      // 0..63
  uint32_t start = 0;                       // packed start time
  uint32_t end = 0;                         // packed end time (>= start)
  uint32_t clusters = 0;                    // 0: one per seconds_per_cluster of its length, at least 1
  std::optional<uint16_t> end_length;       // sectors used in the last cluster; default P (0 when open)
  uint8_t type = 0;                         // `alarm`: 0 R, 1 A, 2 M, 3 C, 4 H
  uint8_t av = 2;                           // AV code: non-zero = "h264", 0 = "jpg"
  uint8_t image = 0;
  std::optional<uint8_t> repeat_no;         // default: the recorder's counter (see FilePlacement)
  uint32_t header_sectors = 0;              // a "DHII" header of this many sectors opens the data
  uint16_t hdr_sectors_field = 0;           // the directory items' `hdr_sectors` (0 = not looked at)
  bool continuation = false;                // first cluster is dir_flag 3 / index flag 1
  bool open = false;                        // still being written: last down link 0xFFFFFFFF
  uint32_t run = 0;                         // write run; runs are laid in ascending order
  std::optional<UserData> user_data;        // a user-data item for this file
  std::optional<Payload> payload;           // default: the disk's payload
};

// The state of a partition whose recorder stopped without closing it.
struct Unclean {
  uint32_t clusters_behind = 0;   // stored current_cluster = real write position - this
  uint32_t index_missing = 0;     // the last this-many written clusters keep their old index bytes
  bool open_last_files = true;    // the last file of each channel is still being written
};

// A directory item and index byte written as given, after the files (for broken chains and other
// states no recorder would write on its own).
struct RawCluster {
  uint32_t cluster = 0;
  DirItem item;
  std::optional<uint8_t> index;   // none: the index byte is left as the files made it
};

struct Partition {
  int slot = 0;                             // partition table entry 0..3
  uint64_t start = 0;                       // absolute first sector
  uint64_t sectors = 0;                     // size in sectors
  uint32_t sector_per_clus = 4096;          // P
  bool formatted = true;                    // false: table entry only, nothing written inside
  LayoutOverrides layout;
  uint32_t type = 0;                        // driver type 0..5
  std::optional<uint8_t> lap;               // default 1 with an older lap, else 0
  uint32_t seconds_per_cluster = 300;       // for files whose `clusters` is 0
  std::vector<File> files;                  // current lap
  std::vector<File> older_lap;              // previous lap, overwritten from rev_clus by `files`
  std::optional<uint32_t> start_cluster2;   // default stored current_cluster + 256 (0 past end_cluster2)
  std::optional<std::vector<uint32_t>> collisions;  // replaces the collisions found from the runs
  std::optional<Unclean> unclean;           // none: closed cleanly (status 0xaa)
  std::vector<RawCluster> raw_clusters;
  bool mirror_second_dir = true;            // false: the second copy keeps the formatter's state
  std::function<void(ParamBlock&)> tweak;   // last changes to the block as stored
};

enum class Version {
  k04,          // "KRT0.4\0" ... 'T' 'S'
  k03,          // "KRT0.3\0", bytes 510/511 zero (an old disk, converted at mount)
  kBadTrailer,  // "KRT0.4\0" ... 'S' 'T': not version 0.4
  kBlank,       // sector 0 all zero: not a recorder disk
};

enum class TableStyle {
  kCurrent,  // entries {start, size, legacy sector 24, in use 1}
  kLegacy,   // entries {start 0, size 0, legacy sector start + 24, in use 1}, plus a terminating
             // entry {size 0, legacy sector end + 24, in use 1} in the slot after the highest one
             // used (when that is below 3): a reader takes each size from the next entry's legacy
             // sector, so every described partition then reads with its size when the partitions
             // are contiguous
};

// One raw 64-byte partition table entry.
struct TableEntry {
  uint64_t start = 0;
  uint64_t size = 0;
  uint32_t legacy_param_sector = 24;
  uint32_t in_use = 1;
};

struct Disk {
  uint64_t sectors = 0;                     // capacity; 0 = the end of the last partition
  Version version = Version::k04;
  TableStyle table_style = TableStyle::kCurrent;
  bool write_table = true;                  // false: sector 20 stays zero
  std::array<std::optional<TableEntry>, 4> table_override;  // raw entries that replace slots
  uint8_t id = 0;                           // disk number encoded in the pattern payload
  Payload payload;                          // default payload of every file
  std::vector<Partition> partitions;
};

// ---------------------------------------------------------------------------------------------
// What the builder wrote
// ---------------------------------------------------------------------------------------------

struct FilePlacement {
  std::vector<uint32_t> clusters;   // in file order; clusters.front() is the first cluster
  uint32_t first_cluster = 0;
  uint32_t last_cluster = 0;
  uint8_t repeat_no = 0;            // the first cluster's repeat number
  uint32_t ud_item = 0;             // user-data item number, 0 = none
  uint32_t size_sectors = 0;        // item_num x P + end_length of the first cluster
  uint32_t data_sectors = 0;        // sectors of recording data written (header included)
  uint32_t header_sectors = 0;
  bool overwritten = false;         // an older-lap file whose first cluster the current lap took
  // Copied from the description, so that expected_bytes needs nothing else:
  uint8_t disk = 0;
  int slot = 0;
  uint32_t sector_per_clus = 0;
  Payload payload;
};

struct PartitionReport {
  int slot = 0;
  uint64_t start = 0;
  Layout layout;
  ParamBlock params;                    // as stored (after tweak)
  uint32_t real_current_cluster = 0;    // last cluster written by the current lap
  std::vector<uint32_t> collisions;     // as stored
  std::vector<FilePlacement> files;     // one per Partition::files, same order
  std::vector<FilePlacement> older_lap; // one per Partition::older_lap, same order
};

struct BuildResult {
  bool ok = false;
  std::string error;                    // why not, when !ok
  uint64_t disk_sectors = 0;
  std::array<TableEntry, 4> table{};    // the entries written to sector 20
  std::vector<PartitionReport> partitions;  // one per Disk::partitions, same order
};

// Builds the image of `disk` at `path`: creates the file (replacing an existing regular file;
// anything else at the path is refused), sets its size to disk.sectors x 512 and writes only the
// sectors that hold something, so the file stays sparse. Also checks the description: slots,
// partition bounds, cluster counts against total_clus, channel range, collisions <= 128, stream
// files readable and byte payloads given, user-data items inside the partition and clear of recording clusters. On
// failure `ok` is false, `error` says why, and the file may be partly written.
BuildResult build_image(const Disk& disk, const std::string& path);

// Computes what build_image would write, without writing anything.
BuildResult plan_image(const Disk& disk);

// ---------------------------------------------------------------------------------------------
// Recording data
// ---------------------------------------------------------------------------------------------

// Fills out[0..511] with the pattern payload of sector `sector` (0-based within the cluster) of
// cluster `cluster` of partition slot `part` on disk `disk`: 32 records of 16 bytes, record r being
// uint32 cluster, uint32 sector, uint8 disk, uint8 part, uint8 r, uint8 0x5A, uint32 mix of the
// other fields; all little-endian. No two places share a sector, and no sector starts with "DHII".
void pattern_sector(uint8_t* out, uint8_t disk, int part, uint32_t cluster, uint32_t sector);

// The bytes of recording data that build_image wrote for a file (data_sectors x 512, header
// included): the pattern, the stream's or the payload's bytes, or zeros. Empty if a stream cannot
// be read.
std::vector<uint8_t> expected_bytes(const FilePlacement& file);

// Sets f.clusters and f.end_length so that the file holds its header and the whole stream file
// `stream_path` (rounded up to whole sectors), and makes the stream its payload.
// Returns false (f unchanged) when the stream cannot be read or is empty.
bool fit_to_stream(File& f, const std::string& stream_path, uint32_t sector_per_clus);

// ---------------------------------------------------------------------------------------------
// Helpers for common layouts
// ---------------------------------------------------------------------------------------------

// Channels first..last inclusive.
std::vector<uint8_t> channel_range(uint8_t first, uint8_t last);

// Back-to-back files of `file_seconds` for each channel, from `from` until `to` (the last file of a
// channel is cut at `to`), ordered by start time, then channel, as a recorder creates them. Every
// file copies the other fields of `model`.
std::vector<File> recordings(const std::vector<uint8_t>& channels, uint32_t from, uint32_t to,
                             uint32_t file_seconds, const File& model = {});

// recordings() for one calendar day, 00:00:00 to 24:00:00.
std::vector<File> day_of_files(const std::vector<uint8_t>& channels, int year, int month, int day,
                               uint32_t file_seconds, const File& model = {});

// A disk of `sectors` sectors holding one partition in slot 0 that covers it from sector 0.
Disk single_partition_disk(uint64_t sectors, uint32_t sector_per_clus);

// A disk with partitions of the given sizes laid back to back from sector 0 in slots 0, 1, ...
// (at most 4), all with `sector_per_clus`; disk.sectors = their sum.
Disk multi_partition_disk(const std::vector<uint64_t>& sizes, uint32_t sector_per_clus);

}  // namespace krt_testing
