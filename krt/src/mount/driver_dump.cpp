// The diagnostic tables of the driver table.
#include "krt/driver_dump.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "krt/driver.h"
#include "krt/lock.h"
#include "krt/packed_time.h"
#include "krt/sections.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

constexpr int kChartColumns = 64;  // columns of the time chart (and distinct times it keeps)

constexpr const char* kBasicHeader =
    "| dev.part |type|total_clus | temp_off | index_off | dir_off | data_off | rev_clus | sec/clus |status|\n";
constexpr const char* kOperationHeader1 =
    "| dev.part | F| S|  curr  |        start1         |         end1          |        start2         |"
    "        end2           |\n";
constexpr const char* kOperationHeader2 =
    "|          |  |  |        |MM-DD HH:MM:SS|  clus  |MM-DD HH:MM:SS|  clus  |MM-DD HH:MM:SS|  clus  |"
    "MM-DD HH:MM:SS|  clus  |\n";
constexpr const char* kChartHeader =
    "|dev.part | period of time                                                 |\n";
constexpr const char* kSectionsHeader =
    "|dev part |start_clus| end_clus |    start_time     |   end_time        |\n";
constexpr const char* kSectionsSeparator =
    "|---------|----------|----------|-------------------|-------------------|\n";

std::vector<DriverParam*> drivers_in_use() {
  std::vector<DriverParam*> out;
  for (int i = 0; i < kMaxDrivers; ++i) {
    if (driver_in_use(*driver_slot(i))) out.push_back(driver_slot(i));
  }
  return out;
}

bool is_work(const DriverParam& p) { return p.type < uint32_t(kRingTypes) && work_driver(int(p.type)) == &p; }

// Work drivers of the types whose partitions a recorder writes continuously.
bool live_work_driver(const DriverParam& p) {
  return is_work(p) && (p.type == 0 || p.type == 3 || p.type == 4);
}

// A line of dashes as wide as a header (without its newline).
void print_dashes(std::FILE* out, const char* header) {
  std::fprintf(out, "%s\n", std::string(std::strlen(header) - 1, '-').c_str());
}

// "|d.p -> d.p" (or "*..." for a work driver when mark_work), "?.?" without a successor.
void print_dev_part(std::FILE* out, const DriverParam& p, bool mark_work) {
  std::fprintf(out, "%c%u.%u -> ", mark_work && is_work(p) ? '*' : '|', uint32_t(p.dev), uint32_t(p.part));
  if (p.next_drv) {
    std::fprintf(out, "%u.%u", uint32_t(p.next_drv->dev), uint32_t(p.next_drv->part));
  } else {
    std::fprintf(out, "?.?");
  }
}

// The error status as one printable character: its hexadecimal digit, '?' beyond 15.
char err_char(uint32_t err_state) { return err_state < 16 ? "0123456789abcdef"[err_state] : '?'; }

void print_basic(std::FILE* out, const std::vector<DriverParam*>& drivers) {
  std::fprintf(out, "driver basic parameter:\n");
  print_dashes(out, kBasicHeader);
  std::fprintf(out, "%s", kBasicHeader);
  print_dashes(out, kBasicHeader);
  for (const DriverParam* p : drivers) {
    print_dev_part(out, *p, false);
    std::fprintf(out, "|%4u|%11u|%10u|%11u|%9u|%10u|%10u|%10u|0x%04x|\n", p->type, p->total_clus, p->temp_off,
                 p->index_off, p->dir_off, p->data_off, p->rev_clus, p->sector_per_clus, p->status);
  }
}

void print_time_and_cluster(std::FILE* out, uint32_t time, uint32_t cluster) {
  const TimeFields f = unpack_time(time);
  std::fprintf(out, "|%02d-%02d %02d:%02d:%02d|%8u", f.month, f.day, f.hour, f.minute, f.second, cluster);
}

void print_operation(std::FILE* out, const std::vector<DriverParam*>& drivers) {
  std::fprintf(out, "driver operation parameter:\n%s%s", kOperationHeader1, kOperationHeader2);
  for (const DriverParam* p : drivers) {
    print_dev_part(out, *p, true);
    std::fprintf(out, "|%2u| %c|%8u", p->lap, err_char(p->err_state), p->current_cluster);
    print_time_and_cluster(out, p->start_time1, p->rev_clus);
    print_time_and_cluster(out, p->end_time1, p->current_cluster);
    print_time_and_cluster(out, p->start_time2, p->start_cluster2);
    print_time_and_cluster(out, p->end_time2, p->end_cluster2);
    std::fprintf(out, "|\n");
  }
}

void print_chart(std::FILE* out, const std::vector<DriverParam*>& drivers) {
  std::set<uint32_t> all;
  for (const DriverParam* p : drivers) {
    for (uint32_t t : {p->start_time1, p->end_time1, p->start_time2, p->end_time2}) {
      if (t != 0) all.insert(t);
    }
  }
  std::vector<uint32_t> times(all.begin(), all.end());
  if (times.size() > size_t(kChartColumns)) times.resize(kChartColumns);
  // A time's column: its place in the list; a time past the 64 kept lies past the chart.
  auto column = [&](uint32_t t) { return int(std::lower_bound(times.begin(), times.end(), t) - times.begin()); };
  std::fprintf(out, "driver time chart:\n%s", kChartHeader);
  for (const DriverParam* p : drivers) {
    std::string bar(kChartColumns, ' ');
    for (auto [from, to] : {std::pair{p->start_time1, p->end_time1}, std::pair{p->start_time2, p->end_time2}}) {
      if (from == 0 || to == 0) continue;
      for (int j = column(from); j < column(to) && j < kChartColumns; ++j) bar[size_t(j)] = '_';
    }
    std::fprintf(out, "|  %2d.%2d  |%s|\n", p->dev, p->part, bar.c_str());
  }
}

void print_section_time(std::FILE* out, uint32_t time) {
  const TimeFields f = unpack_time(time);
  std::fprintf(out, "| %02d-%02d-%02d %02d:%02d:%02d ", f.year - 2000, f.month, f.day, f.hour, f.minute, f.second);
}

void print_sections(std::FILE* out, const std::vector<DriverParam*>& drivers) {
  std::fprintf(out, "driver time sections:\n%s", kSectionsHeader);
  for (const DriverParam* p : drivers) {
    std::fprintf(out, "%s", kSectionsSeparator);
    const uint32_t count = std::min<uint32_t>(p->coll_count + 2, kSectionsPerDriver);
    for (uint32_t i = 0; i < count; ++i) {
      const TimeSection& s = p->sections[i];
      std::fprintf(out, "|  %2d.%2d  |  %7d |  %7d ", p->dev, p->part, int32_t(s.start_cluster),
                   int32_t(s.end_cluster));
      print_section_time(out, s.start_time);
      print_section_time(out, s.end_time);
      const bool broken = s.start_cluster != 0 && !section_valid(s);
      std::fprintf(out, "|%s\n", broken ? "  (error)" : "");
    }
  }
}

}  // namespace

void dump_driver_tables(std::FILE* out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const std::vector<DriverParam*> drivers = drivers_in_use();
  for (DriverParam* p : drivers) {
    if (live_work_driver(*p)) refresh_live_state(*p);
  }
  print_basic(out, drivers);
  print_operation(out, drivers);
  print_chart(out, drivers);
  print_sections(out, drivers);
}

}  // namespace krt
