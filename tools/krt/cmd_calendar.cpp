// krt calendar: the record calendar of the first disk.
#include <cstdio>
#include <mutex>
#include <string>

#include "commands.h"
#include "catalog/json.h"
#include "krt/lock.h"
#include "krt/volume.h"
#include "session.h"
#include "catalog/listing.h"

namespace {

// One day of the calendar with its channel bits.
struct CalendarDay {
  int part;
  int year, month, day;
  uint32_t channels;  // bit b: channel b (or b + 32)
};

std::vector<CalendarDay> calendar_days() {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  const krt::RecordCalendar& cal = krt::record_calendar();
  std::vector<CalendarDay> out;
  for (int p = 0; p < krt::kMaxPartitions; ++p) {
    if (!(cal.partition_mask & (1u << p))) continue;
    for (int y = 0; y < krt::kCalendarYears; ++y)
      for (int m = 0; m < krt::kCalendarMonths; ++m)
        for (int d = 0; d < krt::kCalendarDays; ++d)
          if (const uint32_t bits = cal.day_mask[p][y][m][d]) out.push_back({p, 2000 + y, m + 1, d + 1, bits});
  }
  return out;
}

void print_text(const std::vector<CalendarDay>& days) {
  for (const CalendarDay& d : days) {
    std::printf("%s\t%s\t", partition_name({0, d.part}).c_str(), day_name(d.year, d.month, d.day).c_str());
    const char* sep = "";
    for (int b = 0; b < 32; ++b) {
      if (d.channels & (1u << b)) {
        std::printf("%s%s", sep, channel_name(b).c_str());
        sep = " ";
      }
    }
    std::printf("\n");
  }
}

void print_json(const std::vector<CalendarDay>& days) {
  std::printf("[");
  for (size_t i = 0; i < days.size(); ++i) {
    const CalendarDay& d = days[i];
    const bool new_part = i == 0 || days[i - 1].part != d.part;
    const bool end_part = i + 1 == days.size() || days[i + 1].part != d.part;
    if (new_part) std::printf("%s{\"partition\":\"%s\",\"days\":[", i ? "," : "", partition_name({0, d.part}).c_str());
    std::printf("%s{\"date\":\"%s\",\"channels\":[", new_part ? "" : ",", day_name(d.year, d.month, d.day).c_str());
    const char* sep = "";
    for (int b = 0; b < 32; ++b) {
      if (d.channels & (1u << b)) {
        std::printf("%s%d", sep, b + 1);
        sep = ",";
      }
    }
    std::printf("]}");
    if (end_part) std::printf("]}");
  }
  std::printf("]\n");
}

}  // namespace

int cmd_calendar(const CommandArgs& a) {
  if (!bring_up_volume() || !require_mounted_partition()) return kExitFailed;
  const std::vector<CalendarDay> days = calendar_days();
  if (a.json) print_json(days);
  else print_text(days);
  return kExitOk;
}
