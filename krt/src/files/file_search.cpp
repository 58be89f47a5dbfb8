// The time search: inside one section of a driver, over the sections of all drivers, and the
// merge that yields files in ascending start time; the navigation built on it.
#include <algorithm>
#include <mutex>

#include "file_internal.h"
#include "krt/file_search.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/sections.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

constexpr uint32_t kBackwardFix = 32;   // clusters the backward adjustment may step forward
constexpr uint32_t kForwardFix = 128;   // clusters the forward adjustment may step back
constexpr uint32_t kLatestTime = 0xFFFFFFFF;

// Which section list is current: moved on by every build_section_list. Protected by
// library_lock().
uint32_t g_search_serial = 0;

bool is_backward_kind(int kind) {
  return kind == kScanPrev || kind == kScanPrevFile || kind == kScanPrevFromFirst;
}

bool is_forward_search(int kind) { return kind == kScanNext || kind == kScanNextFile; }

bool channel_matches(uint8_t channel, const DirItem& item) {
  return channel == kAnyChannel || item.channel == channel;
}

bool type_selected(uint32_t mask, uint32_t type) { return type < 32 && (mask >> type & 1) != 0; }

// Compares the search position (t, e) with a cluster's (start time, repeat number).
int compare_key(uint32_t t, uint8_t e, const DirItem& item) {
  if (t != item.start_time) return t < item.start_time ? -1 : 1;
  if (e != item.repeat_no) return e < item.repeat_no ? -1 : 1;
  return 0;
}

// The search position just after a file: its start with the next repeat number, or the next
// second with repeat number 0 after the last one an 8-bit counter can hold.
void key_after(const DirItem& first, uint32_t& t, uint8_t& e) {
  if (first.repeat_no == 0xFF) {
    t = time_add(first.start_time, 1);
    e = 0;
  } else {
    t = first.start_time;
    e = uint8_t(first.repeat_no + 1);
  }
}

// Forward adjustment test: cluster c of h's channel covers (t, e).
int covers(const FILEHANDLE& h, uint32_t c, uint32_t t, uint8_t e, bool& yes) {
  DirItem item{};
  uint32_t end = 0;
  if (const int r = get_dir_item_info(*h.pdp, c, item); r != FS_OK) return r;
  if (const int r = get_dir_item_time1(*h.pdp, c, end); r != FS_OK) return r;
  yes = channel_matches(h.channel, item) && t < end && (t != item.start_time || e <= item.repeat_no);
  return FS_OK;
}

// Index search from M for a forward kind when M itself must be included (M is cluster 0 and
// there is no cluster before it to search from).
int scan_including(const FILEHANDLE& h, int kind, uint32_t m, uint32_t bound, uint32_t& out) {
  uint8_t b = 0;
  if (const int r = get_index_item_info(*h.pdp, m, b); r != FS_OK) return r;
  const bool matches = index_flag(b) != kIndexFlagBad &&
                       (h.channel == kAnyChannel || index_channel(b) == h.channel);
  const bool file_start = index_flag(b) == kIndexFlagFirst || index_flag(b) == kIndexFlagContinued;
  if (matches && (kind == kScanNext || (kind == kScanNextFile && file_start))) {
    out = m;
    return FS_OK;
  }
  return get_next_clus_no(*h.pdp, kind, m, bound, h.channel, out);
}

// file_goto_driver without the handle check.
int goto_driver(FILEHANDLE& h, uint32_t t, uint32_t lo, uint32_t hi, int kind, uint8_t e) {
  log_trace("file_goto_driver(%u -> %u), ", lo, hi);
  if (!h.pdp || h.pdp->total_clus == 0) return FS_NO_EXIST_FILE;
  const DriverParam& p = *h.pdp;
  hi = std::min(hi, p.total_clus - 1);
  if (lo > hi) return FS_NO_EXIST_FILE;
  const bool backward = is_backward_kind(kind);
  DirItem item{};
  auto read = [&](uint32_t c) { return get_dir_item_info(p, c, item); };

  // 1. Binary search on (start time, repeat number).
  uint32_t low = lo, high = hi, m = lo;
  for (;;) {
    m = uint32_t((uint64_t(low) + high) / 2);
    if (m == low) break;
    if (const int r = read(m); r != FS_OK) return r;
    (compare_key(t, e, item) < 0 ? high : low) = m;
  }

  // 2./3. Local adjustment: leave m just before (forward) or after (backward) the answer, so
  // that the index search from m meets it.
  bool include_m = false;
  if (backward) {
    if (const int r = read(high); r != FS_OK) return r;
    if (compare_key(t, e, item) > 0) m = high;
    const uint32_t saved = m;
    const uint32_t limit = uint32_t(std::min<uint64_t>(hi, uint64_t(m) + kBackwardFix));
    for (; m < limit; ++m) {
      if (const int r = read(m); r != FS_OK) return r;
      if (channel_matches(h.channel, item) && t >= item.start_time) break;
    }
    if (m == limit) m = saved;
    // m is now the answer itself when it matches and starts by t: step one past it, so that
    // the backward search (which starts after its first cluster) meets it.
    if (const int r = read(m); r != FS_OK) return r;
    if (channel_matches(h.channel, item) && t >= item.start_time) ++m;
  } else {
    if (const int r = read(high); r != FS_OK) return r;
    if (compare_key(t, e, item) >= 0) m = high;
    const uint32_t saved = m;
    const uint32_t limit = m > lo + kForwardFix ? m - kForwardFix : lo;
    bool yes = false;
    for (; m > limit; --m) {
      if (const int r = covers(h, m, t, e, yes); r != FS_OK) return r;
      if (yes) break;
    }
    if (m == limit) m = saved;
    if (const int r = covers(h, m, t, e, yes); r != FS_OK) return r;
    if (yes) {
      if (m == 0)
        include_m = true;
      else
        --m;
    }
  }

  // 4. Index search, repeated while the cluster found does not satisfy the kind's time rule.
  const uint32_t bound = backward ? lo : hi;
  uint32_t found = 0;
  int r = include_m ? scan_including(h, kind, m, bound, found)
                    : get_next_clus_no(p, kind, m, bound, h.channel, found);
  for (;;) {
    if (r == kScanAtFileStart) r = FS_OK;
    if (r == FS_NO_INDEX) return FS_NO_EXIST_FILE;
    if (r != FS_OK) return r;
    if (found < lo || found > hi) return FS_NO_EXIST_FILE;
    bool again = false;
    if (kind == kScanPrevFile) {
      uint32_t end = 0;
      if (const int r2 = get_dir_item_time1(p, found, end); r2 != FS_OK) return r2;
      again = t < end;
    } else if (kind == kScanNextFile) {
      uint32_t start = 0;
      if (const int r2 = get_dir_item_time(p, found, start); r2 != FS_OK) return r2;
      again = t > start;
    }
    if (!again) break;
    r = get_next_clus_no(p, kind, found, bound, h.channel, found);
  }

  // 5. Stand on it.
  return load_cluster(h, found);
}

// Builds a fresh section list for h and makes it the current one.
void new_section_list(FILEHANDLE& h, bool forward) {
  h.sections = build_section_list(forward);
  h.search_serial = g_search_serial;
}

// The time a search compares candidates by: the start time of the cluster h stands on
// (forward searches) or its end time (backward ones).
int candidate_time(const FILEHANDLE& h, bool forward, uint32_t& out) {
  if (!forward) return get_dir_item_time1(*h.pdp, h.cur_cluster, out);
  out = h.cur_dir_info.start_time;
  return FS_OK;
}

// One pass of file_goto_work_driver over h's section list: positions every usable section on
// its candidate and returns the best one (null when none has a candidate).
TimeSection* search_pass(FILEHANDLE& h, uint32_t t, int kind, uint8_t e, uint32_t driver_mask) {
  const bool forward = is_forward_search(kind);
  // Standing on a cluster gives h that cluster's channel, which a damaged item may give
  // wrongly: every section is searched for the channel the search began with.
  const uint8_t channel = h.channel;
  TimeSection* best = nullptr;
  uint32_t search_time = 0;
  for (TimeSection* s = h.sections; s; s = s->next) {
    if (!type_selected(driver_mask, s->owner->type)) continue;
    if (forward ? !(t < s->end_time) : !(t > s->start_time)) {
      s->state = -1;
      continue;
    }
    if (best && (forward ? s->start_time > search_time : s->end_time < search_time)) continue;
    h.pdp = s->owner;
    h.channel = channel;
    const uint32_t lo = forward ? s->cursor : s->start_cluster;
    const uint32_t hi = forward ? s->end_cluster : s->cursor;
    uint32_t cand = 0;
    if (goto_driver(h, t, lo, hi, kind, e) != FS_OK || candidate_time(h, forward, cand) != FS_OK) {
      s->state = -1;
      continue;
    }
    s->cand_time = cand;
    s->cursor = h.cur_cluster;
    s->state = 1;
    if (!best || (forward ? cand < best->cand_time : cand > best->cand_time)) best = s;
    search_time = best->cand_time;
  }
  return best;
}

// file_goto_work_driver without the lock and the handle check.
int goto_work_driver(FILEHANDLE& h, uint8_t ch, uint32_t t, int kind, uint8_t e, uint32_t type_mask,
                     uint32_t driver_mask) {
  log_trace("file_goto_work_driver() driver_type:%u, ch:%d file_type:%x, hint:%d time:%u\n",
            driver_mask, ch, type_mask, e, t);
  const HandlePosition was = save_position(h);
  h.channel = ch;
  h.best_time = 0;
  for (int i = 0; i < kRingTypes; ++i) {
    if (DriverParam* w = work_driver(i); w && type_selected(driver_mask, uint32_t(i)))
      refresh_live_state(*w);
  }
  const bool forward = is_forward_search(kind);
  if (forward) new_section_list(h, true);
  for (;;) {
    if (!forward) new_section_list(h, false);
    h.channel = ch;  // a pass before may have left h on another channel's file
    TimeSection* best = search_pass(h, t, kind, e, driver_mask);
    int r = FS_NO_EXIST_FILE;
    if (best) {
      h.pdp = best->owner;
      r = load_cluster(h, best->cursor);
    }
    if (r != FS_OK) {
      restore_position(h, was);
      return r;
    }
    if (h.alarm < 8 && type_selected(type_mask & 0xFF, h.alarm)) return FS_OK;
    // A file of an unwanted type: search on from it. Each pass must move the search
    // position strictly, or a broken image could keep returning the same file.
    uint32_t next_t = t;
    uint8_t next_e = e;
    if (kind == kScanNextFile) {
      key_after(h.cur_dir_info, next_t, next_e);
      if (next_t < t || (next_t == t && next_e <= e)) next_t = 0;
    } else if (kind == kScanPrevFile) {
      next_t = h.cur_dir_info.start_time;
      next_e = 0;
      if (next_t >= t) next_t = 0;
    } else {
      return FS_OK;
    }
    if (next_t == 0) {
      restore_position(h, was);
      return FS_NO_EXIST_FILE;
    }
    t = next_t;
    e = next_e;
  }
}

// The next file start of channel ch inside section s after cluster `from`, with its start time.
int next_file_in_section(const TimeSection& s, uint8_t ch, uint32_t from, uint32_t& out,
                         uint32_t& start) {
  if (const int r = get_next_clus_no(*s.owner, kScanNextFile, from, s.end_cluster, ch, out); r != FS_OK)
    return r;
  if (out > s.end_cluster) return FS_READ_FAIL;
  return get_dir_item_time(*s.owner, out, start);
}

// One step of the merge of krt_file_next_in_time: the section list of h is current.
uint32_t merge_next(FILEHANDLE& h, uint8_t ch, uint32_t t, uint8_t skip, uint32_t driver_mask) {
  TimeSection* best = nullptr;
  for (TimeSection* s = h.sections; s; s = s->next) {
    if (s->state < 0 || !type_selected(driver_mask, s->owner->type)) continue;
    if (s->state == 0 && (!best || h.best_time >= s->start_time)) {
      h.pdp = s->owner;
      h.channel = ch;  // not the channel of the file h stood on last
      if (goto_driver(h, t, s->cursor, s->end_cluster, kScanNext, skip) != FS_OK) {
        s->state = -1;
        continue;
      }
      s->cursor = h.cur_cluster;
      s->state = 1;
    }
    if (s->state == 1) {
      // The section's first answer: the start of the file holding the cluster found.
      s->state = 2;
      DirItem item{};
      uint32_t c = 0, start = 0;
      int r = get_dir_item_info(*s->owner, s->cursor, item);
      if (r == FS_OK) {
        c = item.first_cluster_no;
        if (c < s->start_cluster || skip)
          r = next_file_in_section(*s, ch, s->cursor, c, start);
        else
          r = c > s->end_cluster ? FS_READ_FAIL : get_dir_item_time(*s->owner, c, start);
      }
      if (r != FS_OK) {
        s->state = -1;
        continue;
      }
      s->cursor = c;
      s->cand_time = start;
    }
    if (s->state == 2 && (!best || s->cand_time < h.best_time)) {
      best = s;
      h.best_time = s->cand_time;
    }
  }
  if (!best) return 0;
  const uint32_t result = best->cursor;
  uint32_t next = 0, start = 0;
  if (next_file_in_section(*best, ch, result, next, start) == FS_OK) {
    best->cursor = next;
    best->cand_time = start;
  } else {
    best->state = -1;
  }
  h.pdp = best->owner;
  return load_cluster(h, result) == FS_OK ? result : 0;
}

// Rebuilds h's merge after another search reused the sections: a fresh list, merged from the
// start again up to the file h returned last (h still stands on it). Returns the next file, as
// merge_next does.
uint32_t resume_merge(FILEHANDLE& h, uint8_t ch, uint32_t t, uint8_t skip, uint32_t driver_mask) {
  const DriverParam* last_pdp = h.pdp;
  const uint32_t last_cluster = h.cur_cluster;
  const uint32_t last_time = h.best_time;
  new_section_list(h, true);
  if (last_time == 0) return merge_next(h, ch, t, skip, driver_mask);
  for (;;) {
    const uint32_t c = merge_next(h, ch, t, skip, driver_mask);
    if (c == 0 || h.best_time > last_time) return c;
    if (h.pdp == last_pdp && c == last_cluster) return merge_next(h, ch, t, skip, driver_mask);
  }
}

}  // namespace

int file_goto_driver(FILEHANDLE* h, uint32_t t, uint32_t lo, uint32_t hi, int kind, uint8_t e) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  const HandlePosition was = save_position(*h);
  const int r = goto_driver(*h, t, lo, hi, kind, e);
  if (r != FS_OK) restore_position(*h, was);
  return r;
}

TimeSection* build_section_list(bool forward) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ++g_search_serial;
  TimeSection* head = nullptr;
  for (int i = 0; i < kMaxDrivers; ++i) {
    DriverParam& p = *driver_slot(i);
    if (!driver_in_use(p) || p.err_state == kErrStateDiskError || !p.sections) continue;
    const uint32_t count = std::min<uint64_t>(uint64_t(p.coll_count) + 2, kSectionsPerDriver);
    for (uint32_t k = 0; k < count; ++k) {
      TimeSection& s = p.sections[k];
      if (s.end_time == 0 || !section_valid(s)) continue;
      s.state = 0;
      s.cursor = forward ? s.start_cluster : s.end_cluster;
      // Insert after every section that sorts before it or ties with it.
      TimeSection** at = &head;
      while (*at && (forward ? (*at)->start_time <= s.start_time : (*at)->end_time >= s.end_time))
        at = &(*at)->next;
      s.next = *at;
      *at = &s;
    }
  }
  return head;
}

int file_goto_work_driver(FILEHANDLE* h, uint8_t ch, uint32_t t, int kind, uint8_t e,
                          uint32_t type_mask, uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return goto_work_driver(*h, ch, t, kind, e, type_mask, driver_mask);
}

uint32_t krt_file_next_in_time(FILEHANDLE* h, uint8_t ch, uint32_t t, uint8_t skip,
                               uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (check_open_handle(h) != FS_OK) return 0;
  if (h->search_serial != g_search_serial) return resume_merge(*h, ch, t, skip, driver_mask);
  return merge_next(*h, ch, t, skip, driver_mask);
}

// ---- Navigation ----------------------------------------------------------------------------

int krt_file_goto_time(FILEHANDLE* h, uint8_t ch, uint32_t t, uint32_t type_mask, uint32_t driver_mask) {
  return file_goto_work_driver(h, ch, t, kScanNext, 0, type_mask, driver_mask);
}

int krt_file_goto_first(FILEHANDLE* h, uint32_t type_mask, uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return goto_work_driver(*h, h->channel, 0, kScanNextFile, 0, type_mask, driver_mask);
}

int krt_file_goto_last(FILEHANDLE* h, uint32_t type_mask, uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return goto_work_driver(*h, h->channel, kLatestTime, kScanPrevFile, 0, type_mask, driver_mask);
}

int krt_file_goto_last_ch(FILEHANDLE* h, uint8_t ch, uint32_t type_mask, uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  return goto_work_driver(*h, ch, kLatestTime, kScanPrevFile, 0, type_mask, driver_mask);
}

int krt_file_goto_next(FILEHANDLE* h, int wrap, uint32_t type_mask, uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  DirItem first{};
  if (const int r = get_dir_item_info(*h->pdp, h->first_cluster, first); r != FS_OK) return r;
  uint32_t t = 0;
  uint8_t e = 0;
  key_after(first, t, e);
  const int r = goto_work_driver(*h, h->channel, t, kScanNextFile, e, type_mask, driver_mask);
  if (r != FS_OK && wrap) return krt_file_goto_first(h, type_mask, driver_mask);
  return r;
}

int krt_file_goto_prev(FILEHANDLE* h, int wrap, uint32_t type_mask, uint32_t driver_mask) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  if (h->cur_cluster == 0) return FS_NO_EXIST_FILE;
  uint32_t start = 0;
  if (const int r = get_dir_item_time(*h->pdp, h->first_cluster, start); r != FS_OK) return r;
  const int r = goto_work_driver(*h, h->channel, start, kScanPrevFile, 0, type_mask, driver_mask);
  if (r != FS_OK && wrap) return krt_file_goto_last(h, type_mask, driver_mask);
  return r;
}

}  // namespace krt
