// Encoders of the KRT on-disk records: each field goes to its offset in the layout tables of
// records.h, little-endian through the endian helpers.
#include "records.h"

#include <cstring>

#include "krt/endian.h"

namespace krt_testing::records {

#define AT(layout, field) (offsetof(layout, field))

void encode_version(uint8_t* sector, Version version) {
  static const char k04[7] = {'K', 'R', 'T', '0', '.', '4', '\0'};
  static const char k03[7] = {'K', 'R', 'T', '0', '.', '3', '\0'};
  switch (version) {
    case Version::k04:
      std::memcpy(sector + AT(VersionLayout, tag), k04, sizeof k04);
      sector[AT(VersionLayout, trailer_t)] = 'T';
      sector[AT(VersionLayout, trailer_s)] = 'S';
      break;
    case Version::k03:
      std::memcpy(sector + AT(VersionLayout, tag), k03, sizeof k03);
      break;
    case Version::kBadTrailer:
      std::memcpy(sector + AT(VersionLayout, tag), k04, sizeof k04);
      sector[AT(VersionLayout, trailer_t)] = 'S';
      sector[AT(VersionLayout, trailer_s)] = 'T';
      break;
    case Version::kBlank:
      break;
  }
}

void encode_table(uint8_t* sector, const std::array<TableEntry, 4>& entries) {
  krt::st32(sector + AT(TableLayout, word36), 0);
  krt::st32(sector + AT(TableLayout, word40), 3);
  krt::st32(sector + AT(TableLayout, magic), kParamMagic);
  krt::st32(sector + AT(TableLayout, word48), 3);
  krt::st32(sector + AT(TableLayout, word52), 1);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* e = sector + AT(TableLayout, entry) + i * sizeof(TableEntryLayout);
    krt::st64(e + AT(TableEntryLayout, start), entries[i].start);
    krt::st64(e + AT(TableEntryLayout, size), entries[i].size);
    krt::st32(e + AT(TableEntryLayout, legacy_param_sector), entries[i].legacy_param_sector);
    krt::st32(e + AT(TableEntryLayout, in_use), entries[i].in_use);
  }
}

void encode_params(uint8_t* s, const ParamBlock& p) {
#define PUT32(field) krt::st32(s + AT(ParamLayout, field), uint32_t(p.field))
  s[AT(ParamLayout, lap)] = p.lap;
  s[AT(ParamLayout, dirty)] = p.dirty;
  PUT32(status);
  PUT32(start_time1);
  PUT32(end_time1);
  PUT32(current_cluster);
  PUT32(start_cluster2);
  PUT32(end_cluster2);
  PUT32(start_time2);
  PUT32(end_time2);
  PUT32(sector_bytes);
  PUT32(sector_per_clus);
  PUT32(rev_clus);
  PUT32(index_off);
  PUT32(temp_off);
  PUT32(dir_off);
  PUT32(data_off);
  PUT32(total_clus);
  PUT32(error_clus);
  PUT32(type);
  PUT32(ud_start);
  PUT32(ud_item_size);
  PUT32(ud_items);
  PUT32(ud_first_item);
  PUT32(ud_last_item);
  PUT32(dev);
  PUT32(saved_cluster);
  PUT32(restore_from);
  PUT32(prev_drv);
  PUT32(next_drv);
  PUT32(second_dir);
  PUT32(part);
  PUT32(reserve_a_start);
  PUT32(reserve_a_size);
  PUT32(err_state);
  PUT32(coll_sec);
  PUT32(coll_count);
  PUT32(cur_section);
  PUT32(coll_link);
  PUT32(sections_link);
  PUT32(word_180);
  PUT32(reserve_b_start);
  PUT32(reserve_b_size);
  krt::st64(s + AT(ParamLayout, start_sector), p.start_sector);
  PUT32(magic);
#undef PUT32
}

void encode_dir_item(uint8_t* out, const DirItem& d) {
  out[AT(DirItemLayout, alarm)] = d.alarm;
  out[AT(DirItemLayout, dir_flag)] = d.dir_flag;
  krt::st16(out + AT(DirItemLayout, item_num), d.item_num);
  krt::st32(out + AT(DirItemLayout, up_cluster_no), d.up_cluster_no);
  krt::st32(out + AT(DirItemLayout, down_cluster_no), d.down_cluster_no);
  krt::st32(out + AT(DirItemLayout, start_time), d.start_time);
  krt::st32(out + AT(DirItemLayout, end_time), d.end_time);
  krt::st16(out + AT(DirItemLayout, hdr_sectors), d.hdr_sectors);
  krt::st16(out + AT(DirItemLayout, end_length), d.end_length);
  krt::st32(out + AT(DirItemLayout, first_cluster_no), d.first_cluster_no);
  out[AT(DirItemLayout, spare)] = d.spare;
  out[AT(DirItemLayout, image)] = d.image;
  out[AT(DirItemLayout, repeat_no)] = d.repeat_no;
  out[AT(DirItemLayout, channel_av)] = uint8_t((d.channel << 2) | (d.av & 3));
}

void encode_ud_item(uint8_t* out, const UserData& data, uint8_t lap, uint32_t first_cluster) {
  std::memcpy(out + AT(UdItemLayout, card), data.card.data(), data.card.size());
  out[AT(UdItemLayout, card_type)] = data.card_type;
  out[AT(UdItemLayout, lap)] = lap;
  krt::st32(out + AT(UdItemLayout, first_cluster), first_cluster);
}

#undef AT

}  // namespace krt_testing::records
