// Moves inside the open file (by sectors, to a time, by seconds) and the change to another
// channel at the moment a handle stands on.
#include <algorithm>
#include <limits>
#include <mutex>

#include "file_internal.h"
#include "krt/file_search.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"

namespace krt {
namespace {

uint32_t clamp32(uint64_t v) { return uint32_t(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max())); }

// krt_file_moveto_len without the lock and the handle check. A handle being written moves its
// mirror too (not the mirror's mirror: a mirror has none, and a broken record must not loop).
int moveto_len(FILEHANDLE& h, uint32_t n, bool with_mirror) {
  log_trace("krt_file_moveto_len(%u)\n", n);
  if (h.cur_cluster == 0) return FS_NO_EXIST_FILE;
  const uint32_t per_clus = h.pdp->sector_per_clus;
  if (h.file_flag == kFileWriting) {
    if (with_mirror && h.mirror && h.mirror != &h && check_open_handle(h.mirror) == FS_OK)
      moveto_len(*h.mirror, n, false);
    if (n > uint64_t(h.curr_clus_num) * per_clus + h.end_offset) return FS_OUT_OF_RANGE;
  } else {
    DirItem first{};
    if (const int r = get_dir_item_info(*h.pdp, h.cur_dir_info.first_cluster_no, first); r != FS_OK)
      return r;
    if (n > uint64_t(first.item_num) * per_clus + first.end_length) return FS_OUT_OF_RANGE;
  }
  // A position on a cluster boundary is the end of the earlier cluster.
  const uint32_t k = n == 0 ? 0 : (n - 1) / per_clus;
  const uint32_t rest = n - k * per_clus;
  uint32_t c = h.cur_dir_info.first_cluster_no;
  DirItem item{};
  for (uint32_t step = 0; step < k; ++step) {
    if (next_cluster_of_file(h, c, c, item) != FS_OK) return FS_OUT_OF_RANGE;
  }
  const int r = k == 0 ? load_cluster(h, c) : load_item(h, c, item);
  if (r != FS_OK) return r;
  h.cur_offset = std::min(rest, h.clus_sectors);
  log_trace("fir_clus=%u,cur_clus=%u,down_clus:%u", h.first_cluster, h.cur_cluster,
            h.cur_dir_info.down_cluster_no);
  log_trace("clus_num=%u,offset=%u\n", h.curr_clus_num, h.cur_offset);
  return FS_OK;
}

// krt_file_move_size without the lock and the handle check.
int move_size(FILEHANDLE& h, bool backward, uint32_t n) {
  log_trace("krt_file_move_size(%u,%u)\n", unsigned(backward), n);
  if (h.cur_cluster == 0) return FS_NO_EXIST_FILE;
  const uint64_t p = h.cur_dir_info.dir_flag == kDirFlagLater
                         ? uint64_t(h.cur_dir_info.item_num) * h.pdp->sector_per_clus + h.cur_offset
                         : h.cur_offset;
  log_trace("curr_sector=%llu\n", static_cast<unsigned long long>(p));
  const uint64_t target = backward ? (n >= p ? 0 : p - n) : p + n;
  return moveto_len(h, clamp32(target), true);
}

// krt_file_moveto_time without the lock and the handle check.
int moveto_time(FILEHANDLE& h, uint32_t t) {
  log_trace("krt_file_moveto_time:%u\n", t);
  if (h.cur_cluster == 0) return FS_NO_EXIST_FILE;
  uint32_t start = 0, end = 0, length_kb = 0;
  if (const int r = krt_get_file_info2(&h, &start, &end, &length_kb); r != FS_OK) return r;
  if (t <= start) return moveto_len(h, 0, true);
  if (t >= end) return moveto_len(h, clamp32(uint64_t(length_kb) * 2), true);

  // Walk to the cluster covering t: the last one that starts before t.
  const HandlePosition was = save_position(h);
  int r = load_cluster(h, h.first_cluster);
  while (r == FS_OK) {
    const uint32_t previous = h.cur_cluster;
    r = step_to_next_cluster(h);
    if (r == FS_READ_FAIL) {  // no further cluster: t lies in the last one
      r = FS_OK;
      break;
    }
    if (r == FS_OK && t <= h.cur_dir_info.start_time) {
      r = load_cluster(h, previous);
      break;
    }
  }
  if (r != FS_OK) {
    restore_position(h, was);
    return r;
  }
  const int32_t s = std::max(covered_seconds(h), 1);
  const int32_t d = std::max(time_diff(t, h.cur_dir_info.start_time), 0);
  // Whole groups of 16 sectors; the cut keeps every higher bit, so clusters of more than
  // 65,535 sectors get the right offset too.
  const uint64_t offset = uint64_t(d) * h.clus_sectors / uint32_t(s) & ~uint64_t(0xF);
  h.cur_offset = uint32_t(std::min<uint64_t>(offset, h.clus_sectors));
  log_trace("krt_file_moveto_time %d/%d s, sectors = %u\n", s, d, h.cur_offset);
  return FS_OK;
}

// The moment h stands on: the current cluster's start time plus the share of its seconds that
// the sectors already read stand for.
uint32_t current_moment(const FILEHANDLE& h) {
  const int64_t s = std::max(covered_seconds(h), 0);
  log_trace("current clus total second:%llds\n", static_cast<long long>(s));
  const int64_t o = s * h.cur_offset / std::max<uint32_t>(h.clus_sectors, 1);
  log_trace("current clus offset second:%llds\n", static_cast<long long>(o));
  return time_add(h.cur_dir_info.start_time, int32_t(o));
}

// Puts h (its driver, cur_cluster and the new channel already set) on the cluster of its
// channel that was recording at moment t: the channel's previous cluster when that is a middle
// cluster of a file, else the channel's next cluster; then the moment inside it.
int follow_channel(FILEHANDLE& h, uint32_t t) {
  const DriverParam& p = *h.pdp;
  uint32_t c = 0;
  if (get_next_clus_no(p, kScanPrev, h.cur_cluster, 0, h.channel, c) == FS_OK) {
    if (const int r = load_cluster(h, c); r != FS_OK) return r;
    if (h.cur_dir_info.dir_flag == kDirFlagLater && has_down_cluster(h.cur_dir_info))
      return moveto_time(h, t);
  }
  if (get_next_clus_no(p, kScanNext, h.cur_cluster, 0, h.channel, c) != FS_OK) {
    log_trace("FS_NO_EXIST_FILE: get_next_clus_no\n");
    return FS_NO_EXIST_FILE;
  }
  if (const int r = load_cluster(h, c); r != FS_OK) return r;
  return moveto_time(h, t);
}

}  // namespace

int32_t covered_seconds(const FILEHANDLE& h) {
  const DirItem& item = h.cur_dir_info;
  const int32_t s = time_diff(item.end_time, item.start_time);
  if (item.dir_flag == kDirFlagLater) return s;
  return s / std::max<int32_t>(item.item_num, 1);
}

int krt_file_moveto_len(FILEHANDLE* h, uint32_t n) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return moveto_len(*h, n, true);
}

int krt_file_move_size(FILEHANDLE* h, int backward, uint32_t n) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return move_size(*h, backward != 0, n);
}

int krt_file_moveto_time(FILEHANDLE* h, uint32_t t) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return moveto_time(*h, t);
}

int krt_file_move_second(FILEHANDLE* h, int backward, uint32_t seconds) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("krt_file_move_second(%d,%u)\n", backward, seconds);
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  const int32_t s = std::max(covered_seconds(*h), 1);
  log_trace("curr_item total time =%d\n", s);
  move_size(*h, backward != 0, clamp32(uint64_t(seconds) * h->pdp->sector_per_clus / uint32_t(s)));
  return FS_OK;
}

int fs_file_open_near(FILEHANDLE* h, uint8_t ch, FILEHANDLE*& out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("fs_file_open_near()\n");
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (ch == h->channel) {
    log_warn("already at this channel\n");
    return FS_OK;
  }
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  const uint32_t t = current_moment(*h);
  FILEHANDLE* n = alloc_handle(kPurposeRead, 0);
  if (!n) {
    log_trace("fs_file_open_near() Get the Handle error!\n");
    return FS_NO_HANDLE;
  }
  // The new handle reads the same driver from the same place. It shares nothing the other
  // handle owns: not its mirror, not the adapter's buffer, not its search list.
  *n = *h;
  n->file_flag = h->file_flag == kFileReadingAlt ? kFileReadingAlt : kFileReading;
  n->channel = ch;
  n->mirror = nullptr;
  n->length = n->position = n->base_offset = n->buffer_size = 0;
  n->raw_buffer = n->buffer = nullptr;
  n->buffer_pos = kAdapterBufferEmpty;
  n->buf_dirty = 0;
  n->kind = kHandleRecording;
  n->sections = nullptr;
  n->search_serial = 0;
  if (const int r = follow_channel(*n, t); r != FS_OK) {
    release_handle(*n);
    return r;
  }
  out = n;
  return FS_OK;
}

int krt_file_sync(FILEHANDLE* h, uint8_t ch, FILEHANDLE* h2) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("krt_file_sync to channel %d\n", ch);
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (ch == h->channel) {
    log_trace("already at this channel\n");
    return FS_OK;
  }
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  const uint32_t t = current_moment(*h);
  if (const int r = check_open_handle(h2); r != FS_OK) return r;
  const HandlePosition was = save_position(*h2);
  h2->pdp = h->pdp;
  h2->cur_cluster = h->cur_cluster;
  h2->channel = ch;
  const int r = follow_channel(*h2, t);
  if (r != FS_OK) restore_position(*h2, was);
  return r;
}

}  // namespace krt
