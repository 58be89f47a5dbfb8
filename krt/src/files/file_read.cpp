// Positioning a handle on a cluster, reading a file sector by sector, and what a file is.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "file_internal.h"
#include "krt/disk.h"
#include "krt/disk_io.h"
#include "krt/file.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"

namespace krt {
namespace {

// Whether c is a cluster of the driver's data area that a handle can stand on.
bool is_data_cluster(const DriverParam& p, uint32_t c) { return c < p.total_clus && p.sector_per_clus != 0; }

}  // namespace

namespace {

// Moves count sectors between buf and the handle's current cluster, from sector `offset` of the
// cluster: one disk transfer, or several when count exceeds a transfer's 16-bit sector count.
// A range that would leave the disk is refused without a transfer. `io` is disk_io_read or
// disk_io_write, `what` names it in the warning; failure gives `failure`.
template <typename Byte, typename Io>
int cluster_transfer(const FILEHANDLE& h, uint32_t offset, uint32_t count, Byte* buf, Io io,
                     const char* what, int failure) {
  if (count == 0) return FS_OK;
  const DriverParam& p = *h.pdp;
  uint64_t sector =
      p.start_sector + p.data_off + uint64_t(h.cur_cluster) * p.sector_per_clus + offset;
  DiskInfo disks{};
  get_disk_info(&disks);
  if (p.dev < 0 || p.dev >= kMaxDisks || sector + count > disks.cap[p.dev]) {
    log_warn("file %s beyond the disk: disk %d, sector %llu, %u sectors\n", what, p.dev,
             static_cast<unsigned long long>(sector), count);
    return failure;
  }
  while (count > 0) {
    const uint32_t chunk = std::min(count, kMaxTransferSectors);
    if (io(p.dev, uint16_t(chunk), sector, buf) != 0) return failure;
    sector += chunk;
    buf += size_t(chunk) * kSectorBytes;
    count -= chunk;
  }
  return FS_OK;
}

}  // namespace

int read_cluster_sectors(const FILEHANDLE& h, uint32_t offset, uint32_t count, uint8_t* buf) {
  return cluster_transfer(h, offset, count, buf, disk_io_read, "read", FS_READ_FAIL);
}

int write_cluster_sectors(const FILEHANDLE& h, uint32_t offset, uint32_t count, const uint8_t* buf) {
  return cluster_transfer(h, offset, count, buf, disk_io_write, "write", FS_IO_ERROR);
}

HandlePosition save_position(const FILEHANDLE& h) {
  return HandlePosition{h.pdp,          h.first_cluster, h.cur_cluster, h.cur_offset,
                        h.up_cluster,   h.curr_clus_num, h.clus_sectors, h.channel,
                        h.AV,           h.alarm,         h.image,        h.cur_dir_info};
}

void restore_position(FILEHANDLE& h, const HandlePosition& p) {
  h.pdp = p.pdp;
  h.first_cluster = p.first_cluster;
  h.cur_cluster = p.cur_cluster;
  h.cur_offset = p.cur_offset;
  h.up_cluster = p.up_cluster;
  h.curr_clus_num = p.curr_clus_num;
  h.clus_sectors = p.clus_sectors;
  h.channel = p.channel;
  h.AV = p.AV;
  h.alarm = p.alarm;
  h.image = p.image;
  h.cur_dir_info = p.cur_dir_info;
}

int load_item(FILEHANDLE& h, uint32_t c, const DirItem& item) {
  if (!h.pdp) return FS_NO_EXIST_FILE;
  if (!is_data_cluster(*h.pdp, c)) return FS_BAD_CLUSTER;
  const uint32_t per_clus = h.pdp->sector_per_clus;
  h.cur_cluster = c;
  h.cur_offset = 0;
  h.cur_dir_info = item;
  h.channel = item.channel;
  h.alarm = item.alarm;
  h.AV = item.av;
  h.image = item.image;
  if (h.file_flag == kFileWriting && item.down_cluster_no != 0)
    h.cur_dir_info.end_length = uint16_t(h.end_offset);
  const uint16_t end_length = h.cur_dir_info.end_length;
  // A broken end_length larger than the cluster must not let a read run into the next one.
  h.clus_sectors = !has_down_cluster(item) && end_length != 0 ? std::min<uint32_t>(end_length, per_clus)
                                                              : per_clus;
  h.up_cluster = item.up_cluster_no;
  h.first_cluster = item.first_cluster_no;
  h.curr_clus_num = h.first_cluster == c ? 0 : item.item_num;
  return FS_OK;
}

int load_cluster(FILEHANDLE& h, uint32_t c) {
  if (!h.pdp) return FS_NO_EXIST_FILE;
  if (!is_data_cluster(*h.pdp, c)) return FS_BAD_CLUSTER;
  DirItem item{};
  if (const int r = get_dir_item_info(*h.pdp, c, item); r != FS_OK) return r;
  return load_item(h, c, item);
}

int next_cluster_of_file(const FILEHANDLE& h, uint32_t from, uint32_t& next, DirItem& item) {
  if (const int r = get_next_clus_no(*h.pdp, kScanNextInFile, from, 0, h.channel, next); r != FS_OK)
    return r;
  if (const int r = get_dir_item_info(*h.pdp, next, item); r != FS_OK) return r;
  if (item.dir_flag != kDirFlagLater || item.first_cluster_no != h.first_cluster) {
    log_warn("cluster %u after %u is not part of file %u: index and directory disagree\n", next,
             from, h.first_cluster);
    return FS_READ_FAIL;
  }
  return FS_OK;
}

int step_to_next_cluster(FILEHANDLE& h) {
  uint32_t next = 0;
  DirItem item{};
  if (const int r = next_cluster_of_file(h, h.cur_cluster, next, item); r != FS_OK) return r;
  return load_item(h, next, item);
}

int load_clus(FILEHANDLE* h, uint32_t c) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return load_cluster(*h, c);
}

int krt_file_goto_clus(FILEHANDLE* h, int disk, int part, uint32_t c) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DriverParam* pdp = get_pdp(disk, part);
  if (!pdp) {
    log_error("partition %d of disk %d is not mounted\n", part, disk);
    return FS_NO_EXIST_FILE;
  }
  if (const int r = check_handle(h); r != FS_OK) return r;
  if (h->file_flag != kFileReading && h->file_flag != kFileReadingAlt) {
    log_error("Invalid file read handle!!!!!\n");
    return FS_INVALID_HANDLE;
  }
  const HandlePosition was = save_position(*h);
  h->pdp = pdp;
  int r = load_cluster(*h, c);
  if (r == FS_OK && c != h->first_cluster) {
    log_error("cluster %u is not where a recording starts (its recording starts at cluster %u)\n", c,
              h->first_cluster);
    r = FS_NO_EXIST_FILE;
  }
  if (r != FS_OK) restore_position(*h, was);
  return r;
}

int krt_file_read(FILEHANDLE* h, uint8_t* buf, uint32_t n) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (n == 0) log_trace("krt_file_read sec_num == 0\n");
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  if (!buf && n != 0) return FS_READ_FAIL;
  for (;;) {
    if (uint64_t(h->cur_offset) + n <= h->clus_sectors) {
      if (const int r = read_cluster_sectors(*h, h->cur_offset, n, buf); r != FS_OK) return r;
      h->cur_offset += n;
      return FS_OK;
    }
    // The request runs past this cluster: copy its rest, then go on in the next cluster.
    const uint32_t k = h->clus_sectors - h->cur_offset;
    if (k > 0) {
      if (const int r = read_cluster_sectors(*h, h->cur_offset, k, buf); r != FS_OK) return r;
      if (!has_down_cluster(h->cur_dir_info)) {
        h->cur_offset += k;
        std::memset(buf + size_t(k) * kSectorBytes, 0xFF, size_t(n - k) * kSectorBytes);
        log_trace("krt_file_read() over!!!\n");
        return FS_OK;
      }
    }
    n -= k;
    buf += size_t(k) * kSectorBytes;
    if (const int r = step_to_next_cluster(*h); r != FS_OK) return r;
  }
}

int krt_file_tell(FILEHANDLE* h, uint32_t* sectors) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (sectors) {
    *sectors = h->cur_cluster == 0
                   ? 0
                   : uint32_t(uint64_t(h->curr_clus_num) * h->pdp->sector_per_clus + h->cur_offset);
  }
  return FS_OK;
}

int krt_get_file_info(FILEHANDLE* h, uint8_t* channel, uint8_t* alarm, uint8_t* image, uint8_t* av) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("krt_get_file_info()\n");
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  if (channel) *channel = h->channel;
  if (alarm) *alarm = h->alarm;
  if (image) *image = h->image;
  if (av) *av = h->AV;
  return FS_OK;
}

int krt_get_file_info2(FILEHANDLE* h, uint32_t* start, uint32_t* end, uint32_t* length_kb) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("krt_get_file_info2()\n");
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  DirItem first{};
  if (const int r = get_dir_item_info(*h->pdp, h->cur_dir_info.first_cluster_no, first); r != FS_OK)
    return r;
  if (start) *start = first.start_time;
  if (end) *end = first.end_time;
  if (length_kb) {
    const uint32_t per_clus = h->pdp->sector_per_clus;
    const uint64_t sectors = h->file_flag == kFileWriting
                                 ? uint64_t(h->total_clus_num) * per_clus + h->end_offset
                                 : file_size_sectors(*h->pdp, first);
    *length_kb = uint32_t(sectors >> 1);
  }
  return FS_OK;
}

int krt_get_clus_sectors(FILEHANDLE* h, uint32_t* sector_per_clus) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (!h->pdp) return FS_NO_EXIST_FILE;
  if (sector_per_clus) *sector_per_clus = h->pdp->sector_per_clus;
  return FS_OK;
}

int krt_file_get_path(FILEHANDLE* h, char* text, size_t size) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  uint32_t start = 0, end = 0;
  if (const int r = krt_get_file_info2(h, &start, &end, nullptr); r != FS_OK) return r;
  if (const int r = krt_get_file_info(h, nullptr, nullptr, nullptr, nullptr); r != FS_OK) return r;
  static constexpr char kTypeLetters[] = "RAMCH?";
  const char letter = kTypeLetters[std::min<size_t>(h->alarm, sizeof kTypeLetters - 2)];
  const TimeFields s = unpack_time(start);
  const TimeFields e = unpack_time(end);
  std::snprintf(text, text ? size : 0,
                "/mnt/ide%c%d/%04d-%02d-%02d/%03d/%02d.%02d.%02d-%02d.%02d.%02d[%c][@%x][%d].%s",
                'a' + h->pdp->dev, h->pdp->part, s.year, s.month, s.day,
                h->channel + 1, s.hour, s.minute, s.second, e.hour, e.minute, e.second, letter,
                h->first_cluster, 0, h->AV != 0 ? "h264" : "jpg");
  return FS_OK;
}

}  // namespace krt
