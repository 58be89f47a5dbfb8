// Packed time of the KRT format and calendar arithmetic on it, through the standard library's
// civil calendar (no time zone: a packed time is a wall-clock time).
#include <chrono>

#include "krt_testing/image_builder.h"

namespace krt_testing {
namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

const sys_days kEpoch = year{2000} / 1 / 1;

}  // namespace

uint32_t pack_time(int y, int mo, int d, int h, int mi, int s) {
  return (uint32_t(y - 2000) & 63) << 26 | (uint32_t(mo) & 15) << 22 | (uint32_t(d) & 31) << 17 |
         (uint32_t(h) & 31) << 12 | (uint32_t(mi) & 63) << 6 | (uint32_t(s) & 63);
}

int64_t seconds_since_2000(uint32_t t) {
  if (t == 0) return 0;
  const year_month_day date{year(2000 + int(t >> 26)), month((t >> 22) & 15), day((t >> 17) & 31)};
  const int64_t whole_days = (sys_days{date} - kEpoch).count();
  return whole_days * 86400 + ((t >> 12) & 31) * 3600 + ((t >> 6) & 63) * 60 + (t & 63);
}

uint32_t time_from_seconds(int64_t seconds) {
  const year_month_day date{kEpoch + days(seconds / 86400)};
  const int64_t rest = seconds % 86400;
  return pack_time(int(date.year()), int(unsigned(date.month())), int(unsigned(date.day())),
                   int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
}

uint32_t add_seconds(uint32_t t, int64_t seconds) {
  return time_from_seconds(seconds_since_2000(t) + seconds);
}

}  // namespace krt_testing
