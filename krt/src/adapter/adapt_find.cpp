// Listing the recordings of one channel of one partition on one day.
//
// Find first positions a handle at the start of the day with the time search, which runs over
// the time sections of every mounted partition; find next walks on in ascending start time.
// The walk merges all partitions, so it also meets recordings of other partitions (and disks):
// their cluster numbers mean nothing on the partition being listed, so they are passed over.
// A recording that began before the day (and runs past midnight into it) is passed over too:
// it belongs to the listing of the day it started.
//
// Every recording is checked as it is listed, the way an open and a read would take it: one
// whose open would be refused (its first cluster's item names another first cluster or another
// channel, or lies outside the partition) is left out with a warning that says why; one whose
// clusters end before its item's count is listed with the size its clusters really hold.
#include <mutex>

#include "adapt_internal.h"
#include "adapt_memo.h"
#include "files/file_internal.h"
#include "krt/file_search.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/recording_path.h"

namespace krt::adapt {
namespace {

constexpr int32_t kDaySeconds = 86400;

// The partition and channel each open search lists, by handle slot. Protected by
// library_lock(). The channel is kept here because standing on a file sets the handle's
// channel to that file's.
DriverParam* g_listed[kMaxFileHandles];
uint8_t g_listed_channel[kMaxFileHandles];

// The search behind a find handle, or null.
FILEHANDLE* search_of(FSFindHandle find) {
  FILEHANDLE* h = open_handle(reinterpret_cast<const void*>(find));
  return h && h->kind == kHandleRecording && !h->buffer ? h : nullptr;
}

// The check of the recording whose first cluster is c (its size, whether it opens, and with
// need_header its header), from the memo when a listing made it already.
RecordCheck check_record(DriverParam& pdp, uint8_t ch, uint32_t c, const DirItem& item, bool need_header) {
  const uint64_t told = file_size_sectors(pdp, item);
  std::optional<RecordCheck> check = memo_record(pdp, c, ch);
  if (!check || check->told != told) {
    check = RecordCheck{};
    check->told = told;
    check->result = readable_sectors(&pdp, c, ch, told, check->sectors);
  }
  if (need_header && check->result == FS_OK && check->header < 0) check->header = header_sectors(pdp, c, item);
  memo_keep_record(pdp, c, ch, *check);
  return *check;
}

// Fills the find record of the recording whose first cluster is c, listed in channel ch, with
// the size a read of it really reaches. Returns false, after a warning that says why, when an
// open of it would be refused. With data null (a search that only asks whether the day lists)
// only the check is made, and no header is read.
bool fill_record(DriverParam& pdp, uint8_t ch, uint32_t c, const DirItem& item, FSFindData* data) {
  const RecordCheck check = check_record(pdp, ch, c, item, data != nullptr);
  const uint64_t told = check.told;
  const uint64_t sectors = check.sectors;
  if (const int r = check.result; r != FS_OK) {
    log_warn("recording at cluster %u of disk %d partition %d channel %d not listed: it does not open (%s)\n",
             c, pdp.dev, pdp.part, ch + 1, result_text(r));
    return false;
  }
  if (sectors < told) {
    log_warn("recording at cluster %u of disk %d partition %d channel %d: its clusters end after %llu of "
             "%llu sectors; listed with what they hold\n",
             c, pdp.dev, pdp.part, ch + 1, static_cast<unsigned long long>(sectors),
             static_cast<unsigned long long>(told));
  }
  if (!data) return true;
  format_recording_name(data->name, sizeof data->name, item.start_time, item_end_time(item), item.alarm, c,
                        item.repeat_no, item.av != 0);
  data->attrib = 0;
  data->time_write = int64_t(time_to_time_t(item.start_time));
  const uint32_t bytes = length_bytes(sectors >> 1);
  const uint32_t header = uint32_t(check.header) * kSectorBytes;
  data->size = bytes > header ? bytes - header : 0;
  return true;
}

// The next recording of the listing into data. Returns 0, or -1 when the day has no more.
int next_of(FILEHANDLE* h, FSFindData* data) {
  DriverParam* listed = g_listed[handle_slot(h)];
  if (!listed || disk_error(listed) || h->kind != kHandleRecording) return -1;
  const uint8_t ch = g_listed_channel[handle_slot(h)];
  uint32_t refused = 0;
  for (;;) {
    DirItem item{};
    const uint32_t c = next_file_on(h, ch, listed, h->ref_time, 0, kDaySeconds, item);
    if (c == 0 || c == refused) return -1;
    if (fill_record(*listed, ch, c, item, data)) return 0;
    refused = c;
  }
}

}  // namespace

uint32_t next_file_on(FILEHANDLE* h, uint8_t ch, const DriverParam* driver, uint32_t t, uint8_t e,
                      int32_t within, DirItem& item) {
  uint32_t last = 0;
  const DriverParam* last_pdp = nullptr;
  for (;;) {
    const uint32_t c = krt_file_next_in_time(h, ch, t, 0, 0xFF);
    if (c == 0 || time_diff(h->best_time, t) >= within) return 0;
    if (c == last && h->pdp == last_pdp) return 0;  // the walk stands still
    last = c;
    last_pdp = h->pdp;
    if (h->pdp != driver) continue;  // another partition's recording
    if (get_dir_item_info(*driver, c, item) != FS_OK) return 0;
    if (item.start_time > t || (item.start_time == t && item.repeat_no >= e)) return c;
  }
}

namespace {

// Opens the search of channel `channel` on the day starting at packed time `day` on pdp and
// fills data (when not null) with its first recording. Returns the search's handle, or null (closed) when the
// day lists nothing or no handle slot is free. Whether the day lists is kept in the memo, and
// a day known to list nothing is answered from it without a search.
FILEHANDLE* open_day_search(DriverParam* pdp, uint8_t channel, uint32_t day, FSFindData* data) {
  if (memo_day_lists(*pdp, channel, day) == false) return nullptr;
  FILEHANDLE* h = alloc_adapter_handle();
  if (!h) {
    log_trace("fs_findfirst() Get the Handle error!\n");
    return nullptr;
  }
  h->pdp = pdp;
  h->file_flag = kFileReading;
  h->kind = kHandleRecording;
  h->ref_time = day;
  g_listed[handle_slot(h)] = pdp;
  g_listed_channel[handle_slot(h)] = channel;
  const bool lists = file_goto_work_driver(h, channel, h->ref_time, kScanNext, 0, 0xFF, 0xFF) == FS_OK &&
                     next_of(h, data) == 0;
  memo_keep_day_lists(*pdp, channel, day, lists);
  if (!lists) {
    g_listed[handle_slot(h)] = nullptr;
    krt_file_close(h);
    return nullptr;
  }
  return h;
}

}  // namespace

bool channel_day_lists(DriverParam* pdp, uint8_t channel, uint32_t day) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const std::optional<bool> known = memo_day_lists(*pdp, channel, day)) return *known;
  FILEHANDLE* h = open_day_search(pdp, channel, day, nullptr);
  if (!h) return false;
  g_listed[handle_slot(h)] = nullptr;
  krt_file_close(h);
  return true;
}

FSFindHandle find_first(const char* pattern, FSFindData* data) {
  SlotScope scope;
  ChannelDirName d{};
  if (!data || !parse_channel_pattern(pattern, d)) return VFS_FIND_NONE;
  DriverParam* pdp = get_pdp(d.partition.disk, d.partition.part);
  if (!pdp) {
    log_trace("No such driver!\n");
    return VFS_FIND_NONE;
  }
  FILEHANDLE* h = open_day_search(pdp, uint8_t(d.channel), pack_time(TimeFields{d.year, d.month, d.day, 0, 0, 0}), data);
  return h ? reinterpret_cast<FSFindHandle>(h) : VFS_FIND_NONE;
}

int find_next(FSFindHandle find, FSFindData* data) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  FILEHANDLE* h = search_of(find);
  return h && data ? next_of(h, data) : -1;
}

int find_close(FSFindHandle find) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  FILEHANDLE* h = search_of(find);
  if (!h) return -1;
  const bool failed = disk_error(g_listed[handle_slot(h)]);
  g_listed[handle_slot(h)] = nullptr;
  // A search on a failed disk is closed all the same, so that its record is not lost.
  return krt_file_close(h) != FS_OK || failed ? -1 : 0;
}

}  // namespace krt::adapt
