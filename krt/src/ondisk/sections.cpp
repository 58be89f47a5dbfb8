// Time sections of a driver, built from its collision table and lap fields.
#include "krt/sections.h"

#include <algorithm>
#include <mutex>

#include "krt/dir_index.h"
#include "krt/endian.h"
#include "krt/layout.h"
#include "krt/lock.h"

namespace krt {
namespace {

// Section s ends at cluster c, with c's end time.
void end_at(const DriverParam& pdp, TimeSection& s, uint32_t c) {
  s.end_cluster = c;
  get_dir_item_time1(pdp, c, s.end_time);
}

// Section s starts at cluster c, with c's start time.
void start_at(const DriverParam& pdp, TimeSection& s, uint32_t c) {
  s.start_cluster = c;
  get_dir_item_time(pdp, c, s.start_time);
}

// Collision i of the driver's collision copy.
uint32_t collision(const DriverParam& pdp, uint32_t i) { return ld32(pdp.coll_copy + 4 * i); }

}  // namespace

void build_sections(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  TimeSection* s = pdp.sections;
  for (int i = 0; i < kSectionsPerDriver; ++i) s[i] = TimeSection{&pdp, nullptr, 0, 0, 0, 0, 0, 0, 0};
  if (pdp.current_cluster == 0) {
    pdp.cur_section = 0;
    return;
  }
  // The sections array has room for kMaxCollisions + 2 sections; a mounted block never
  // claims more collisions, and none past the table's 128 entries is ever read.
  const uint32_t count = std::min<uint32_t>(pdp.coll_count, kMaxCollisions);
  s[0].start_cluster = pdp.rev_clus;
  s[0].start_time = pdp.start_time1;
  pdp.cur_section = count;
  bool write_position_seen = false;
  uint32_t k = 0;
  for (uint32_t j = 0; j < count; ++j) {
    const uint32_t c = collision(pdp, j);
    if (!write_position_seen && c > pdp.current_cluster) {
      // Section j holds the write position (its end comes from refresh_current_section);
      // section j + 1 covers the rest of the older lap up to this collision. A collision at
      // current_cluster itself is the first cluster of the newest run of the current lap.
      pdp.cur_section = j;
      write_position_seen = true;
      ++k;
    }
    end_at(pdp, s[k], c - 1);
    start_at(pdp, s[k + 1], c);
    ++k;
  }
  TimeSection& older = s[count + 1];
  if (pdp.start_cluster2 != 0) {
    older.end_time = pdp.end_time2;
    older.end_cluster = pdp.end_cluster2;
  } else {
    older.start_cluster = older.end_cluster = 0;
  }
  refresh_current_section(pdp);
}

void refresh_current_section(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const uint32_t n = pdp.cur_section;
  if (pdp.current_cluster == 0 || n >= uint32_t(kSectionsPerDriver)) return;
  TimeSection* s = pdp.sections;
  end_at(pdp, s[n], pdp.current_cluster);
  if (n + 1 < uint32_t(kSectionsPerDriver) && s[n + 1].end_cluster != 0) {
    start_at(pdp, s[n + 1], pdp.current_cluster + 1);
  }
}

void refresh_live_state(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (pdp.start_cluster2 != 0) get_dir_item_time(pdp, pdp.start_cluster2, pdp.start_time2);
  refresh_current_section(pdp);
}

bool section_valid(const TimeSection& s) {
  return s.start_cluster <= s.end_cluster && s.start_time <= s.end_time;
}

}  // namespace krt
