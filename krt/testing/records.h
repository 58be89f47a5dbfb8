// On-disk record layouts of the KRT format, as the image builder writes them.
//
// Each struct below is an offset table only: it spells the record out field by field so that the
// static_asserts pin every offset, and the encoders store through krt::st16/st32/st64 at
// offsetof(...). Nothing ever casts a buffer to one of these structs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "krt_testing/image_builder.h"

namespace krt_testing::records {

// Version block, absolute sector 0.
struct VersionLayout {
  char tag[7];          // "KRT0.4\0" or "KRT0.3\0"
  uint8_t unused[503];
  char trailer_t;       // 'T'
  char trailer_s;       // 'S'
};
static_assert(sizeof(VersionLayout) == 512);
static_assert(offsetof(VersionLayout, trailer_t) == 510);
static_assert(offsetof(VersionLayout, trailer_s) == 511);

// Partition table entry, 64 bytes.
struct TableEntryLayout {
  uint64_t start;
  uint64_t size;
  uint8_t unused16[12];
  uint32_t legacy_param_sector;
  uint8_t unused32[24];
  uint32_t in_use;
  uint32_t unused60;
};
static_assert(sizeof(TableEntryLayout) == 64);
static_assert(offsetof(TableEntryLayout, size) == 8);
static_assert(offsetof(TableEntryLayout, legacy_param_sector) == 28);
static_assert(offsetof(TableEntryLayout, in_use) == 56);

// Partition table, absolute sector 20: a 56-byte header and four entries.
struct TableLayout {
  uint8_t zero[36];
  uint32_t word36;      // 0
  uint32_t word40;      // 3
  uint32_t magic;       // 0x789abcde
  uint32_t word48;      // 3
  uint32_t word52;      // 1
  TableEntryLayout entry[4];
};
static_assert(sizeof(TableLayout) == 312);
static_assert(offsetof(TableLayout, word36) == 36);
static_assert(offsetof(TableLayout, magic) == 44);
static_assert(offsetof(TableLayout, word52) == 52);
static_assert(offsetof(TableLayout, entry) == 56);

// Parameter block, 336 bytes at relative sector 24.
struct ParamLayout {
  uint8_t unused0[8];
  uint8_t lap;
  uint8_t dirty;
  uint8_t unused10[2];
  uint32_t status;
  uint32_t start_time1;
  uint32_t end_time1;
  uint32_t current_cluster;
  uint32_t start_cluster2;
  uint32_t end_cluster2;
  uint32_t start_time2;
  uint32_t end_time2;
  uint32_t sector_bytes;
  uint32_t sector_per_clus;
  uint32_t unused52;
  uint32_t rev_clus;
  uint32_t index_off;
  uint32_t temp_off;
  uint32_t dir_off;
  uint32_t data_off;
  uint32_t total_clus;
  uint32_t error_clus;
  uint32_t type;
  uint32_t ud_start;
  uint32_t ud_item_size;
  uint32_t ud_items;
  uint32_t ud_first_item;
  uint32_t ud_last_item;
  int32_t dev;
  uint32_t saved_cluster;
  uint32_t restore_from;
  uint32_t prev_drv;
  uint32_t next_drv;
  uint8_t unused128[8];
  uint32_t second_dir;
  int32_t part;
  uint32_t reserve_a_start;
  uint32_t reserve_a_size;
  uint32_t err_state;
  uint32_t coll_sec;
  uint32_t coll_count;
  uint32_t cur_section;
  uint32_t coll_link;
  uint32_t sections_link;
  uint32_t unused176;
  uint32_t word_180;
  uint32_t reserve_b_start;
  uint32_t reserve_b_size;
  uint8_t unused192[32];
  uint64_t start_sector;
  uint8_t unused232[96];
  uint32_t magic;
  uint32_t unused332;
};
static_assert(sizeof(ParamLayout) == 336);
static_assert(offsetof(ParamLayout, lap) == 8);
static_assert(offsetof(ParamLayout, status) == 12);
static_assert(offsetof(ParamLayout, current_cluster) == 24);
static_assert(offsetof(ParamLayout, end_time2) == 40);
static_assert(offsetof(ParamLayout, sector_per_clus) == 48);
static_assert(offsetof(ParamLayout, rev_clus) == 56);
static_assert(offsetof(ParamLayout, data_off) == 72);
static_assert(offsetof(ParamLayout, type) == 84);
static_assert(offsetof(ParamLayout, ud_last_item) == 104);
static_assert(offsetof(ParamLayout, restore_from) == 116);
static_assert(offsetof(ParamLayout, second_dir) == 136);
static_assert(offsetof(ParamLayout, err_state) == 152);
static_assert(offsetof(ParamLayout, cur_section) == 164);
static_assert(offsetof(ParamLayout, word_180) == 180);
static_assert(offsetof(ParamLayout, reserve_b_size) == 188);
static_assert(offsetof(ParamLayout, start_sector) == 224);
static_assert(offsetof(ParamLayout, magic) == 328);

// Directory item, 32 bytes; item c at relative sector dir_off + c / 16.
struct DirItemLayout {
  uint8_t alarm;
  uint8_t dir_flag;
  uint16_t item_num;
  uint32_t up_cluster_no;
  uint32_t down_cluster_no;
  uint32_t start_time;
  uint32_t end_time;
  uint16_t hdr_sectors;
  uint16_t end_length;
  uint32_t first_cluster_no;
  uint8_t spare;
  uint8_t image;
  uint8_t repeat_no;
  uint8_t channel_av;   // bits 2-7 channel, bits 0-1 AV
};
static_assert(sizeof(DirItemLayout) == 32);
static_assert(offsetof(DirItemLayout, up_cluster_no) == 4);
static_assert(offsetof(DirItemLayout, start_time) == 12);
static_assert(offsetof(DirItemLayout, hdr_sectors) == 20);
static_assert(offsetof(DirItemLayout, end_length) == 22);
static_assert(offsetof(DirItemLayout, first_cluster_no) == 24);
static_assert(offsetof(DirItemLayout, image) == 29);
static_assert(offsetof(DirItemLayout, channel_av) == 31);

// User-data item, 16 bytes; item n at relative sector ud_start + n / 32.
struct UdItemLayout {
  uint8_t card[10];
  uint8_t card_type;
  uint8_t lap;
  uint32_t first_cluster;
};
static_assert(sizeof(UdItemLayout) == 16);
static_assert(offsetof(UdItemLayout, card_type) == 10);
static_assert(offsetof(UdItemLayout, first_cluster) == 12);

inline constexpr uint32_t kDirItemsPerSector = kSectorBytes / sizeof(DirItemLayout);  // 16
inline constexpr uint32_t kUdItemsPerSector = kSectorBytes / sizeof(UdItemLayout);    // 32

// Writes the version block into a zeroed 512-byte sector.
void encode_version(uint8_t* sector, Version version);

// Writes the partition table header and four entries into a zeroed 512-byte sector.
void encode_table(uint8_t* sector, const std::array<TableEntry, 4>& entries);

// Writes the 336 bytes of a parameter block at the start of a zeroed sector.
void encode_params(uint8_t* sector, const ParamBlock& p);

// Writes one directory item at `out` (32 bytes).
void encode_dir_item(uint8_t* out, const DirItem& item);

// Writes one user-data item at `out` (16 bytes).
void encode_ud_item(uint8_t* out, const UserData& data, uint8_t lap, uint32_t first_cluster);

}  // namespace krt_testing::records
