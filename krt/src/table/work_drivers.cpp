// Type rings, work drivers, the pack period and the generation counter.
#include "krt/work_drivers.h"

#include <algorithm>
#include <mutex>

#include "krt/lock.h"
#include "krt/log.h"

namespace krt {
namespace {

// All protected by library_lock().
DriverParam* g_work[kRingTypes] = {};  // work driver of each type; null = none
int32_t g_fs_change = 0;               // generation of the driver set
uint32_t g_pack_period_ms = kDefaultPackPeriodMs;  // the writer's pack period

bool ring_type(int t) { return t >= 0 && t < kRingTypes; }

// Whether entry p belongs in the ring of type t.
bool ring_member(const DriverParam& p, int t) {
  return driver_in_use(p) && p.type == uint32_t(t) && p.err_state == 0;
}

// Links p into a ring just before member m.
void insert_before(DriverParam& p, DriverParam& m) {
  p.next_drv = &m;
  p.prev_drv = m.prev_drv;
  m.prev_drv->next_drv = &p;
  m.prev_drv = &p;
}

// Inserts p into the ring of work driver w, before the first member after w whose start_time1
// is later than p's, or at the end (before w). A ring holds at most kMaxDrivers members, so the
// walk is bounded even over links that something else broke.
void insert_by_start_time(DriverParam& p, DriverParam& w) {
  DriverParam* m = w.next_drv;
  for (int steps = 0; m != &w && m != nullptr && steps < kMaxDrivers; ++steps, m = m->next_drv) {
    if (m->start_time1 > p.start_time1) return insert_before(p, *m);
  }
  insert_before(p, w);
}

}  // namespace

void build_type_ring(int t) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!ring_type(t)) return;
  DriverParam* work = nullptr;
  for (int i = 0; i < kMaxDrivers; ++i) {
    DriverParam& p = *driver_slot(i);
    if (driver_in_use(p) && p.type == uint32_t(t)) p.prev_drv = p.next_drv = nullptr;
    if (ring_member(p, t) && (!work || p.end_time1 > work->end_time1)) work = &p;
  }
  g_work[t] = work;
  if (!work) {
    log_trace("none type %d driver!\n", t);
    return;
  }
  work->prev_drv = work->next_drv = work;
  for (int i = 0; i < kMaxDrivers; ++i) {
    DriverParam& p = *driver_slot(i);
    if (&p != work && ring_member(p, t)) insert_by_start_time(p, *work);
  }
}

void rebuild_work_drivers() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int i = 0; i < kMaxDrivers; ++i) {
    DriverParam& p = *driver_slot(i);
    p.prev_drv = p.next_drv = nullptr;
  }
  for (int t = 0; t < kRingTypes; ++t) build_type_ring(t);
  ++g_fs_change;
  log_trace("g_fs_change: %d\n", g_fs_change);
}

void clear_work_drivers() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (DriverParam*& w : g_work) w = nullptr;
}

DriverParam* work_driver(int t) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return ring_type(t) ? g_work[t] : nullptr;
}

bool set_work_driver(int t, DriverParam& p) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!ring_type(t) || p.type != uint32_t(t) || !p.next_drv || !p.prev_drv) return false;
  g_work[t] = &p;
  return true;
}

int type_driver_count(int t) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!ring_type(t) || !g_work[t]) return 0;
  int n = 1;
  for (DriverParam* m = g_work[t]->next_drv; m && m != g_work[t] && n < kMaxDrivers; m = m->next_drv) ++n;
  return n;
}

bool unlink_from_ring(DriverParam& p) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (DriverParam*& w : g_work) {
    if (w == &p) w = p.next_drv != &p ? p.next_drv : nullptr;
  }
  if (!p.next_drv || !p.prev_drv) {
    p.prev_drv = p.next_drv = nullptr;
    return false;
  }
  p.prev_drv->next_drv = p.next_drv;
  p.next_drv->prev_drv = p.prev_drv;
  p.prev_drv = p.next_drv = nullptr;
  return true;
}

void set_pack_period(uint32_t seconds) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (seconds >= 60) g_pack_period_ms = uint32_t(std::min<uint64_t>(uint64_t(seconds) * 1000, UINT32_MAX));
}

uint32_t pack_period_ms() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_pack_period_ms;
}

int32_t fs_change() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_fs_change;
}

int32_t bump_fs_change() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return ++g_fs_change;
}

}  // namespace krt
