// The recorder's write side: create, write, new clusters, packing, splits, continuations, user
// data and the card-recording search.
#include "krt/file_write.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "files/file_internal.h"
#include "krt/cache.h"
#include "krt/clock.h"
#include "krt/disk_io.h"
#include "krt/driver_info.h"
#include "krt/driver_transitions.h"
#include "krt/file_search.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/sections.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

constexpr uint32_t kMsPerMinute = 60000;
constexpr uint32_t kPackPeriodDivisor = 6000;  // P = pack period (ms) / 6000
constexpr uint32_t kCardRecordType = 3;        // record type of card recordings (C)
constexpr uint32_t kCardDriverMask = 3;        // drivers of types 0 and 1
constexpr uint32_t kCardTypeMask = 1u << kCardRecordType;

UserData user_data_of(const FILEHANDLE& h) {
  UserData ud{};
  std::memcpy(&ud, h.user_data, sizeof ud);
  return ud;
}

// Whether a handle may be written: an adapter handle of another kind, or a file open for writing.
bool writable(const FILEHANDLE& h) { return h.kind != kHandleRecording || h.file_flag == kFileWriting; }

int refuse_write(const FILEHANDLE& h) {
  log_error("Invalid file write handle %p, flag %d!!!!!\n", static_cast<const void*>(&h), h.file_flag);
  return FS_INVALID_HANDLE;
}

// Initialises h for a new file on the work driver pdp (krt_file_create step 4).
void start_file(FILEHANDLE& h, uint8_t ch, uint8_t av, uint8_t type, uint8_t image, uint32_t t,
                DriverParam* pdp, FILEHANDLE* mirror) {
  h.mode = 1;
  h.end_cluster = h.end_offset = h.cur_cluster = h.cur_offset = h.up_cluster = 0;
  h.total_clus_num = h.curr_clus_num = h.first_cluster = h.clus_sectors = 0;
  h.file_flag = kFileWriting;
  h.channel = ch;
  h.AV = av;
  h.alarm = type;
  h.image = image;
  h.open_tick = tick_count();
  h.pdp = pdp;
  h.packed = h.ud_pending = h.ud_written = 0;
  h.ref_time = t;
  h.mirror = mirror;
  h.kind = kHandleRecording;
}

// Starts the continuation of a cut file in h at time t. Returns false (h stays cut) when its
// driver type has no work driver.
bool continue_file(FILEHANDLE& h, uint32_t t) {
  DriverParam* work = h.pdp ? work_driver(int(h.pdp->type)) : nullptr;
  if (!work) {
    log_warn("no work driver to continue a cut file of channel %d\n", h.channel);
    h.file_flag = kFileCut;
    return false;
  }
  const bool had_user_data = h.ud_written || h.ud_pending;
  start_file(h, h.channel, h.AV, h.alarm, h.image, t, work, h.mirror);
  h.packed = 1;
  // The continuation carries the same user data; it is stored with its first cluster.
  h.ud_pending = had_user_data ? 1 : 0;
  return true;
}

// Packs a file being written and marks it cut.
void close_pack(FILEHANDLE& h, uint32_t t) {
  if (h.file_flag != kFileWriting) return;
  h.file_flag = kFileCut;
  pack_file(&h, t, true);
}

// Moves the end of the file to the handle's position when the position lies beyond it.
void note_written(FILEHANDLE& h) {
  const uint64_t spc = h.pdp->sector_per_clus;
  if (h.curr_clus_num * spc + h.cur_offset > h.total_clus_num * spc + h.end_offset) {
    h.end_cluster = h.cur_cluster;
    h.end_offset = h.cur_offset;
    h.total_clus_num = h.curr_clus_num;
  }
}

// Writes n sectors at the handle's position; a failure marks the cluster bad.
int write_here(FILEHANDLE& h, const uint8_t* buf, uint32_t n) {
  if (write_cluster_sectors(h, h.cur_offset, n, buf) == FS_OK) return FS_OK;
  set_bad_clus(*h.pdp, h.cur_cluster);
  return FS_IO_ERROR;
}

// Whether a file open for `minutes` is split by a write at `now`.
bool split_due(uint32_t minutes, uint32_t now) {
  const uint32_t p = pack_period_ms() / kPackPeriodDivisor;
  if (p == 0) return false;
  if (minutes >= p * 3 / 2) return true;
  const TimeFields f = unpack_time(now);
  if (f.second != 0) return false;
  const bool divides_hour = p <= 60 && 60 % p == 0;
  const bool whole_hours = p > 60 && p % 60 == 0;
  if (divides_hour) return minutes >= p / 2 && uint32_t(f.minute) % p == 0;
  if (whole_hours) return minutes >= p / 2 && f.minute == 0;
  return minutes >= p;
}

// set_new_clus with a bound on the driver changes one call may make: each change moves to the
// next driver of the ring, so more changes than drivers cannot find a usable cluster.
int take_cluster(FILEHANDLE& h, int changes_left) {
  const uint32_t now = time_now();
  DriverParam& pdp = *h.pdp;
  uint32_t c = 0;
  const int found = get_next_clus_no(pdp, kScanWritable, pdp.current_cluster, 0, kAnyChannel, c);
  if (found == FS_READ_FAIL) {
    log_trace("DISK OVER\n");
    if (changes_left == 0) return FS_READ_FAIL;
    const int old_disk = pdp.dev;
    close_pack_driver(pdp, now);
    change_work_driver(pdp);
    reopen_cut_files(now);
    const int r = h.file_flag == kFileWriting ? take_cluster(h, changes_left - 1) : FS_READ_FAIL;
    fs_event("DiskOver", "%d", old_disk);
    return r;
  }
  if (found != FS_OK) return found;

  h.cur_offset = 0;
  h.up_cluster = h.cur_cluster;
  h.cur_cluster = c;
  h.clus_sectors = pdp.sector_per_clus;
  uint8_t dir_flag = 0;
  uint8_t index_flag = 0;
  if (h.first_cluster != 0) {
    set_dir_item_end_time(pdp, h.up_cluster, now, false);
    set_dir_item_down_clus(pdp, h.up_cluster, c, true);
    dir_flag = kDirFlagLater;
    index_flag = kIndexFlagInside;
    ++h.curr_clus_num;
  } else {
    h.first_cluster = c;
    dir_flag = h.packed ? kDirFlagContinued : kDirFlagFirst;
    index_flag = h.packed ? kIndexFlagContinued : kIndexFlagFirst;
  }
  const uint32_t sector_bytes = pdp.sector_bytes ? pdp.sector_bytes : kSectorBytes;
  init_dir_item(h.cur_dir_info, h.channel, h.AV, h.alarm, h.image, dir_flag, h.up_cluster,
                h.first_cluster, uint16_t(h.curr_clus_num), uint16_t(h.base_offset / sector_bytes));
  make_index_item(h.index_info, h.channel, index_flag);
  if (const int r = set_dir_item_info(pdp, c, h.cur_dir_info, true); r != FS_OK) return r;
  if (const int r = set_index_item_info(pdp, c, h.index_info, false); r != FS_OK) return r;
  const int r = set_dir_first_item(pdp, h.first_cluster, uint16_t(h.cur_offset),
                                   uint16_t(h.curr_clus_num), h.cur_dir_info.end_time, false);
  set_current_cluster(pdp, c);
  return r;
}

// A filter record that checks nothing: card type and every digit all ones.
bool checks_nothing(const UserData& f) {
  if (f.card_type != kAnyCardType) return false;
  return std::all_of(std::begin(f.card), std::end(f.card), [](uint8_t b) { return b == 0xFF; });
}

// Upper bound of the files a walk over all mounted drivers can meet: one per cluster.
uint64_t cluster_count_of_all_drivers() {
  uint64_t n = 0;
  for (int i = 0; i < kMaxDrivers; ++i) {
    if (driver_in_use(*driver_slot(i))) n += driver_slot(i)->total_clus;
  }
  return n;
}

}  // namespace

int krt_file_create(uint32_t reserved, uint8_t ch, uint8_t av, uint8_t type, uint8_t image, uint32_t t,
                    int mirror, int drv, FILEHANDLE*& out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  out = nullptr;
  FILEHANDLE* m = nullptr;
  if (mirror) krt_file_create(reserved, ch, av, type, image, t, 0, kMirrorDriverType, m);
  log_trace("krt_file_create() ");
  log_trace("Ch=%d AV=%d Type=%d Image=%#x time: %02d-%02d %02d:%02d:%02d\n", ch, av, type, image,
            unpack_time(t).month, unpack_time(t).day, unpack_time(t).hour, unpack_time(t).minute,
            unpack_time(t).second);
  FILEHANDLE* h = alloc_handle(kPurposeCreate, drv);
  if (!h) {
    log_trace("krt_file_create() Get the Handle error with type:%d!\n", drv);
    if (m) krt_file_close(m);
    return FS_NO_HANDLE;
  }
  start_file(*h, ch, av, type, image, t, work_driver(drv), m);
  out = h;
  return FS_OK;
}

int krt_file_write(FILEHANDLE* h, const uint8_t* buf, uint32_t n) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (n == 0) log_trace("krt_file_write sec_num == 0\n");
  if (!writable(*h)) return refuse_write(*h);
  const int r = _file_write(h, buf, n);
  if (!h->mirror) return r;
  const int mirror_result = _file_write(h->mirror, buf, n);
  return r != FS_OK ? r : mirror_result;
}

int _file_write(FILEHANDLE* h, const uint8_t* buf, uint32_t n) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (n == 0) log_trace("_file_write sec_num == 0\n");
  // Each turn of the loop fills the current cluster; a write that overflows it goes on in the
  // next one (the cluster count of one call is not bounded, so no recursion).
  for (;;) {
    if (!writable(*h) || !h->pdp) return refuse_write(*h);
    const uint32_t now = time_now();
    time_changed(*h->pdp, now);
    if (!writable(*h)) return refuse_write(*h);  // cut and not continued
    if (h->first_cluster == 0) {
      if (const int r = set_new_clus(h); r != FS_OK) {
        log_trace("Error %d : set_new_clus(handle)\n", r);
        return r;
      }
      if (h->ud_pending) {
        if (const int r = _set_file_ud(h, user_data_of(*h)); r != FS_OK) {
          log_trace("Error %d : _set_file_ud(handle,&pfile->user_data )\n", r);
          return r;
        }
      }
    }
    const uint32_t spc = h->pdp->sector_per_clus;
    if (h->cur_offset + uint64_t(n) >= spc) h->ref_time = now;
    if (h->cur_offset + uint64_t(n) > spc) {
      const uint32_t k = spc - std::min(h->cur_offset, spc);
      if (k > 0) {
        if (const int r = write_here(*h, buf, k); r != FS_OK) return r;
        h->cur_offset += k;
        note_written(*h);
      }
      // Writing over sectors written before (the position was moved back) follows the file's
      // own clusters; only the file's end takes a new cluster.
      const bool inside = h->curr_clus_num < h->total_clus_num;
      if (const int r = inside ? step_to_next_cluster(*h) : set_new_clus(h); r != FS_OK) {
        log_trace("Error %d : set_new_clus(handle)\n", r);
        return r;
      }
      buf += size_t(k) * kSectorBytes;
      n -= k;
      continue;
    }
    if (const int r = write_here(*h, buf, n); r != FS_OK) return r;
    h->cur_offset += n;
    note_written(*h);
    if (h->kind == kHandleRecording) {
      set_dir_item_end_time(*h->pdp, h->cur_cluster, now, false);
      set_dir_first_item(*h->pdp, h->first_cluster, uint16_t(h->end_offset), uint16_t(h->total_clus_num),
                         now, false);
    }
    const uint32_t minutes = (tick_count() - h->open_tick) / kMsPerMinute;
    if (!split_due(minutes, now)) return FS_OK;
    log_warn("_file_write pack file internal for cur_minute = %u\n", minutes);
    close_pack(*h, now);
    continue_file(*h, now);
    return FS_OK;
  }
}

int set_new_clus(FILEHANDLE* h) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (!h->pdp) return FS_NO_EXIST_FILE;
  return take_cluster(*h, kMaxDrivers);
}

int pack_file(FILEHANDLE* h, uint32_t t, bool write_now) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_handle(h); r != FS_OK) return r;
  if (h->first_cluster == 0 || !h->pdp) return FS_OK;
  // A file whose first data has not been written yet ends in its first cluster.
  const uint32_t last = h->end_cluster != 0 ? h->end_cluster : h->first_cluster;
  set_dir_last_item(*h->pdp, last, uint16_t(h->end_offset), t, write_now);
  const int r = set_dir_first_item(*h->pdp, h->first_cluster, uint16_t(h->end_offset),
                                   uint16_t(h->total_clus_num), t, write_now);
  h->pdp->end_time1 = t;
  return r;
}

int krt_file_split(FILEHANDLE* h) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_handle(h); r != FS_OK) return r;
  if (h->file_flag != kFileWriting) return FS_OK;
  if (h->mirror && h->mirror != h && check_handle(h->mirror) == FS_OK) krt_file_split(h->mirror);
  const uint32_t now = time_now();
  pack_file(h, now, true);
  h->file_flag = kFileCut;
  continue_file(*h, now);
  return FS_OK;
}

void close_pack_driver(DriverParam& pdp, uint32_t t) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int i = 0; i < kMaxFileHandles; ++i) {
    FILEHANDLE& h = *file_handle_slot(i);
    if (h.pdp == &pdp && h.fs_change == fs_change()) close_pack(h, t);
  }
  bflush(pdp.dev);
}

void reopen_cut_files(uint32_t t) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int i = 0; i < kMaxFileHandles; ++i) {
    FILEHANDLE& h = *file_handle_slot(i);
    if (h.file_flag == kFileCut && h.fs_change == fs_change()) continue_file(h, t);
  }
}

int time_changed(DriverParam& pdp, uint32_t now) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int32_t d = time_diff(now, pdp.end_time1);
  const bool back = d < -kClockBackSeconds;
  if (back || (d > kClockJumpSeconds && pdp.end_time1 != 0)) {
    close_pack_driver(pdp, pdp.end_time1);
    if (back) set_collision(pdp, now);
    reopen_cut_files(now);
    fs_event("TimeChanged", "%dS", d);
  }
  if (d != 0) reset_repeat_counter();
  pdp.end_time1 = now;
  return FS_OK;
}

int _set_file_ud(FILEHANDLE* h, const UserData& ud) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_handle(h); r != FS_OK) return r;
  if (h->file_flag != kFileWriting) return FS_OK;
  std::memcpy(h->user_data, &ud, sizeof h->user_data);
  if (h->first_cluster == 0 || !h->pdp) {
    log_trace("_set_file_ud() the following user data not write to file first_cluster %u\n", h->first_cluster);
    h->ud_pending = 1;
    h->ud_written = 0;
    return FS_OK;
  }
  uint32_t item = 0;
  if (const int r = ud_add_item(*h->pdp, h->first_cluster, ud, item); r != FS_OK) return r;
  int r = FS_OK;
  if (!h->ud_written) r = set_dir_item_up_clus(*h->pdp, h->first_cluster, item, true);
  h->ud_pending = 0;
  h->ud_written = 1;
  return r;
}

int krt_file_set_ud(FILEHANDLE* h, const UserData& ud) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_handle(h); r != FS_OK) return r;
  if (h->mirror && h->mirror != h) _set_file_ud(h->mirror, ud);
  return _set_file_ud(h, ud);
}

int fs_get_user_data(FILEHANDLE* h, UserData& out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("fs_get_user_data(),%u\n", h ? h->first_cluster : 0);
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (!h->pdp || h->first_cluster == 0) return FS_NO_EXIST_FILE;
  DirItem first{};
  if (const int r = get_dir_item_info(*h->pdp, h->first_cluster, first); r != FS_OK) return r;
  if (first.up_cluster_no == 0) {
    log_trace("the file no user data\n");
    return FS_NO_USER_DATA;
  }
  return ud_get_item(*h->pdp, first.up_cluster_no, h->first_cluster, out);
}

int fs_file_ud_list_ex(uint32_t t1, uint32_t t2, const UserData* filters, int n, int& count, FileInfo* out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int capacity = std::max(count, 0);
  count = 0;
  n = filters ? std::max(n, 0) : 0;
  bool filtering = false;
  for (int i = 0; i < n; ++i) filtering = filtering || !checks_nothing(filters[i]);
  log_trace("\nfs_file_ud_list_ex()\n");
  const uint8_t ch = n > 0 ? filters[0].lap : kAnyChannel;

  FILEHANDLE* h = nullptr;
  if (const int r = krt_file_open(h, 0, 0); r != FS_OK) return r;
  for (int t = 0; t < 2; ++t) {
    if (DriverParam* w = work_driver(t)) refresh_live_state(*w);
  }
  FileInfo last{};
  bool have_last = false;
  if (file_goto_work_driver(h, ch, t1, kScanNext, 0, kCardTypeMask, kCardDriverMask) == FS_OK) {
    const uint64_t bound = cluster_count_of_all_drivers();
    for (uint64_t steps = 0; count < capacity && steps <= bound; ++steps) {
      const uint32_t c = krt_file_next_in_time(h, ch, t1, 0, kCardDriverMask);
      if (c == 0 || h->best_time >= t2) break;
      FileInfo info{};
      if (get_file_item_info(*h->pdp, c, info) != FS_OK) continue;
      if (info.alarm != kCardRecordType || info.size_kb == 0 || info.end_time < t1) continue;
      const bool same_as_last = have_last && info.disk == last.disk && info.part == last.part &&
                                info.first_cluster_no == last.first_cluster_no;
      if (same_as_last) continue;
      if (filtering && ud_check_item(*h->pdp, filters, uint8_t(std::min(n, 255)), c, info.up_cluster_no) != FS_OK) {
        continue;
      }
      out[count++] = info;
      last = info;
      have_last = true;
    }
  }
  log_trace("%d file(s) found.\n", count);
  krt_file_close(h);
  return count > 0 ? FS_OK : FS_NO_EXIST_FILE;
}

}  // namespace krt
