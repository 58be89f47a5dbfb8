// The work-directory calendar: the days on which a partition recorded.
//
// One block per (disk, partition) for every disk the library can attach, in a library-wide
// table. A read of a partition's "WorkDirectory" rebuilds its block from the cluster index and
// the directory items of the file starts, then hands over a little-endian copy.
#include <cstring>
#include <map>

#include "adapt_internal.h"
#include "adapt_memo.h"
#include "files/file_starts.h"
#include "krt/adapter.h"
#include "krt/disk.h"
#include "krt/endian.h"
#include "krt/layout.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/recording_path.h"

namespace krt {
namespace {

using MonthDays = uint32_t[kWorkCalendarYears][kWorkCalendarMonthSlots];

MonthDays g_work_calendars[kMaxDisks][kMaxPartitions];  // protected by library_lock()

}  // namespace

uint32_t work_calendar_days(const uint8_t* block, int year, int month) {
  if (!block || year < 2000 || year >= 2000 + kWorkCalendarYears || month < 1 || month > 12) return 0;
  return ld32(block + ((year - 2000) * kWorkCalendarMonthSlots + month) * 4);
}

namespace adapt {

std::map<uint32_t, uint64_t> listed_channel_days(DriverParam* pdp, uint32_t from, bool first_only) {
  // The channels whose files start on each day, by the cluster index.
  std::map<uint32_t, uint64_t> named;  // day's packed time: channel bits
  for_each_file_start(*pdp, from, [&named](uint32_t, const DirItem& item) {
    const TimeFields t = unpack_time(item.start_time);
    if (t.month >= 1 && t.month <= 12 && t.day >= 1 && item.channel < kMaxChannels)
      named[pack_time(TimeFields{t.year, t.month, t.day, 0, 0, 0})] |= uint64_t(1) << item.channel;
  });
  std::map<uint32_t, uint64_t> listed;
  for (const auto& [day, mask] : named) {
    for (int c = 0; c < kMaxChannels; ++c) {
      if (!(mask & (uint64_t(1) << c)) || !channel_day_lists(pdp, uint8_t(c), day)) continue;
      listed[day] |= uint64_t(1) << c;
      if (first_only) break;
    }
  }
  return listed;
}

bool read_work_calendar(FILEHANDLE* h, uint8_t* out) {
  if (!alloc_adapter_handle()) {
    log_trace("fs_findfirst() Get the Handle error!\n");
    return false;
  }
  const DriverParam& pdp = *h->pdp;
  if (pdp.dev < 0 || pdp.dev >= kMaxDisks || pdp.part < 0 || pdp.part >= kMaxPartitions) return false;
  MonthDays& days = g_work_calendars[pdp.dev][pdp.part];
  std::memset(days, 0, sizeof days);
  if (!memo_calendar_days(pdp)) memo_keep_calendar_days(pdp, listed_channel_days(h->pdp, 0, true));
  for (const auto& [day, channels] : *memo_calendar_days(pdp)) {
    const TimeFields t = unpack_time(day);
    days[t.year - 2000][t.month] |= 1u << t.day;
  }
  for (int y = 0; y < kWorkCalendarYears; ++y)
    for (int m = 0; m < kWorkCalendarMonthSlots; ++m) st32(out + (y * kWorkCalendarMonthSlots + m) * 4, days[y][m]);
  return true;
}

}  // namespace adapt
}  // namespace krt
