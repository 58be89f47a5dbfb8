// Directory items and index bytes: codec and accessors through the sector cache.
#include "krt/dir_index.h"

#include <algorithm>
#include <mutex>

#include "krt/cache.h"
#include "krt/clock.h"
#include "krt/endian.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/result.h"

namespace krt {
namespace {

#define DIR_AT(field) offsetof(DirItemDisk, field)

uint8_t g_repeat_counter = 0;  // the writer's file counter; protected by library_lock()

// Absolute sector and byte offset of cluster c's directory item.
uint64_t dir_sector(const DriverParam& pdp, uint32_t c) {
  return pdp.start_sector + pdp.dir_off + c / kDirItemsPerSector;
}
size_t dir_offset(uint32_t c) { return size_t(c % kDirItemsPerSector) * sizeof(DirItemDisk); }

// Absolute sector and byte offset of cluster c's index byte.
uint64_t index_sector(const DriverParam& pdp, uint32_t c) {
  return pdp.start_sector + pdp.index_off + c / kIndexBytesPerSector;
}
size_t index_offset(uint32_t c) { return c % kIndexBytesPerSector; }

// Takes the cached sector of cluster c's item, after the cluster check.
int hold_dir_sector(const DriverParam& pdp, uint32_t c, HeldBuf& out) {
  if (c > pdp.total_clus) {
    log_error("GET_DIR_ITEM(%d %u) failed!!!!!!!!!!!!\n", pdp.dev, c);
    return FS_BAD_CLUSTER;
  }
  out.reset(bread(pdp.dev, dir_sector(pdp, c)));
  return out ? FS_OK : FS_IO_ERROR;
}

// Marks a changed sector dirty and writes it when asked.
int finish_change(Buf* b, bool write_now) {
  bdirty(b);
  return write_now && bwrite(b) != 0 ? FS_IO_ERROR : FS_OK;
}

// Applies change to cluster c's item in the cache: read, change, re-encode, mark, write.
template <typename Change>
int change_dir_item(const DriverParam& pdp, uint32_t c, bool write_now, Change change) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  HeldBuf b;
  if (const int r = hold_dir_sector(pdp, c, b); r != FS_OK) return r;
  uint8_t* bytes = b->data + dir_offset(c);
  DirItem item = decode_dir_item(bytes);
  change(item);
  encode_dir_item(item, bytes);
  return finish_change(b.get(), write_now);
}

}  // namespace

void make_index_item(uint8_t& out, uint8_t channel, uint8_t flag) {
  out = uint8_t((channel & 0x3F) << 2 | (flag & 3));
}

DirItem decode_dir_item(const uint8_t* b) {
  DirItem i{};
  i.alarm = b[DIR_AT(alarm)];
  i.dir_flag = b[DIR_AT(dir_flag)];
  i.item_num = ld16(b + DIR_AT(item_num));
  i.up_cluster_no = ld32(b + DIR_AT(up_cluster_no));
  i.down_cluster_no = ld32(b + DIR_AT(down_cluster_no));
  i.start_time = ld32(b + DIR_AT(start_time));
  i.end_time = ld32(b + DIR_AT(end_time));
  i.hdr_sectors = ld16(b + DIR_AT(hdr_sectors));
  i.end_length = ld16(b + DIR_AT(end_length));
  i.first_cluster_no = ld32(b + DIR_AT(first_cluster_no));
  i.unused_28 = b[DIR_AT(unused_28)];
  i.image = b[DIR_AT(image)];
  i.repeat_no = b[DIR_AT(repeat_no)];
  i.channel = index_channel(b[DIR_AT(channel_av)]);
  i.av = index_flag(b[DIR_AT(channel_av)]);
  return i;
}

void encode_dir_item(const DirItem& i, uint8_t* b) {
  b[DIR_AT(alarm)] = i.alarm;
  b[DIR_AT(dir_flag)] = i.dir_flag;
  st16(b + DIR_AT(item_num), i.item_num);
  st32(b + DIR_AT(up_cluster_no), i.up_cluster_no);
  st32(b + DIR_AT(down_cluster_no), i.down_cluster_no);
  st32(b + DIR_AT(start_time), i.start_time);
  st32(b + DIR_AT(end_time), i.end_time);
  st16(b + DIR_AT(hdr_sectors), i.hdr_sectors);
  st16(b + DIR_AT(end_length), i.end_length);
  st32(b + DIR_AT(first_cluster_no), i.first_cluster_no);
  b[DIR_AT(unused_28)] = i.unused_28;
  b[DIR_AT(image)] = i.image;
  b[DIR_AT(repeat_no)] = i.repeat_no;
  make_index_item(b[DIR_AT(channel_av)], i.channel, i.av);
}

int get_dir_item_info(const DriverParam& pdp, uint32_t c, DirItem& out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  HeldBuf b;
  if (const int r = hold_dir_sector(pdp, c, b); r != FS_OK) return r;
  out = decode_dir_item(b->data + dir_offset(c));
  return FS_OK;
}

int get_dir_item_time(const DriverParam& pdp, uint32_t c, uint32_t& out) {
  DirItem item{};
  const int r = get_dir_item_info(pdp, c, item);
  if (r == FS_OK) out = item.start_time;
  return r;
}

uint32_t item_end_time(const DirItem& item) {
  return item.end_time == item.start_time ? time_add(item.start_time, 1) : item.end_time;
}

int get_dir_item_time1(const DriverParam& pdp, uint32_t c, uint32_t& out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DirItem item{};
  if (const int r = get_dir_item_info(pdp, c, item); r != FS_OK) return r;
  if (item.down_cluster_no != 0 && item.down_cluster_no != kNoNextCluster) {
    return get_dir_item_time(pdp, item.down_cluster_no, out);
  }
  out = item_end_time(item);
  return FS_OK;
}

int set_dir_item_info(const DriverParam& pdp, uint32_t c, const DirItem& item, bool write_now) {
  return change_dir_item(pdp, c, write_now, [&](DirItem& i) { i = item; });
}

int set_dir_item_down_clus(const DriverParam& pdp, uint32_t c, uint32_t next, bool write_now) {
  const bool own_sector = c / kDirItemsPerSector != next / kDirItemsPerSector;
  return change_dir_item(pdp, c, write_now && own_sector, [&](DirItem& i) { i.down_cluster_no = next; });
}

int set_dir_item_up_clus(const DriverParam& pdp, uint32_t c, uint32_t value, bool write_now) {
  return change_dir_item(pdp, c, write_now, [&](DirItem& i) { i.up_cluster_no = value; });
}

int set_dir_item_end_time(const DriverParam& pdp, uint32_t c, uint32_t end_time, bool write_now) {
  return change_dir_item(pdp, c, write_now, [&](DirItem& i) { i.end_time = end_time; });
}

int set_dir_last_item(const DriverParam& pdp, uint32_t c, uint16_t end_length, uint32_t end_time,
                      bool write_now) {
  return change_dir_item(pdp, c, write_now, [&](DirItem& i) {
    i.end_time = end_time;
    i.end_length = end_length;
    i.down_cluster_no = 0;
  });
}

int set_dir_first_item(const DriverParam& pdp, uint32_t c, uint16_t end_length, uint16_t item_num,
                       uint32_t end_time, bool write_now) {
  return change_dir_item(pdp, c, write_now, [&](DirItem& i) {
    i.end_time = end_time;
    i.end_length = end_length;
    i.item_num = item_num;
  });
}

void init_dir_item(DirItem& item, uint8_t channel, uint8_t av, uint8_t alarm, uint8_t image,
                   uint8_t dir_flag, uint32_t up, uint32_t first, uint16_t item_num,
                   uint16_t hdr_sectors) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const uint8_t keep_28 = item.unused_28;
  const uint32_t now = time_now();
  item = DirItem{.alarm = alarm,
                 .dir_flag = dir_flag,
                 .item_num = item_num,
                 .up_cluster_no = up,
                 .down_cluster_no = kNoNextCluster,
                 .start_time = now,
                 .end_time = now,
                 .hdr_sectors = hdr_sectors,
                 .end_length = 0,
                 .first_cluster_no = first,
                 .unused_28 = keep_28,
                 .image = image,
                 .repeat_no = g_repeat_counter,
                 .channel = uint8_t(channel & 0x3F),
                 .av = uint8_t(av & 3)};
  if (item_num == 0) ++g_repeat_counter;
}

void reset_repeat_counter() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_repeat_counter = 0;
}

uint64_t file_size_sectors(const DriverParam& pdp, const DirItem& first) {
  const uint64_t per_clus = pdp.sector_per_clus;
  const uint64_t recording_clusters = pdp.total_clus > pdp.rev_clus ? pdp.total_clus - pdp.rev_clus : 0;
  return std::min(uint64_t(first.item_num) * per_clus + first.end_length, recording_clusters * per_clus);
}

int get_file_item_info(const DriverParam& pdp, uint32_t c, FileInfo& out) {
  DirItem i{};
  const int r = get_dir_item_info(pdp, c, i);
  if (r != FS_OK) return r;
  const uint64_t sectors = file_size_sectors(pdp, i);
  out = FileInfo{.channel = i.channel,
                 .alarm = i.alarm,
                 .av = i.av,
                 .image = i.image,
                 .repeat_no = i.repeat_no,
                 .start_time = i.start_time,
                 .end_time = i.end_time,
                 .size_kb = uint32_t(std::min<uint64_t>(sectors / 2, UINT32_MAX)),
                 .disk = pdp.dev,
                 .part = pdp.part,
                 .first_cluster_no = i.first_cluster_no,
                 .up_cluster_no = i.up_cluster_no};
  return FS_OK;
}

int get_index_item_info(const DriverParam& pdp, uint32_t c, uint8_t& out) {
  HeldBuf b(bread(pdp.dev, index_sector(pdp, c)));
  if (!b) return FS_IO_ERROR;
  out = b->data[index_offset(c)];
  return FS_OK;
}

int set_index_item_info(const DriverParam& pdp, uint32_t c, uint8_t byte, bool write_now) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  HeldBuf b(bread(pdp.dev, index_sector(pdp, c)));
  if (!b) return FS_IO_ERROR;
  uint8_t& stored = b->data[index_offset(c)];
  if (index_flag(stored) == kIndexFlagBad) return FS_OK;  // a bad cluster stays bad
  stored = byte;
  return finish_change(b.get(), write_now);
}

int set_bad_clus(const DriverParam& pdp, uint32_t c) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("set bad clus : dev %d, clus %u\n", pdp.dev, c);
  HeldBuf b(bread(pdp.dev, index_sector(pdp, c)));
  if (!b) return FS_IO_ERROR;
  b->data[index_offset(c)] |= kIndexFlagBad;
  return finish_change(b.get(), true);
}

}  // namespace krt
