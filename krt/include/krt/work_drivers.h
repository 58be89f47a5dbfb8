// Type rings, work drivers, the writer's pack period and the file-system generation counter.
//
// Drivers of the same type t (0..4) with err_state 0 form a ring through prev_drv/next_drv.
// Each ring starts at the type's work driver, the one with the latest end_time1 (on equal
// times the lower table slot wins), and goes on in ascending start_time1. The file layer
// chooses drivers by type through the work driver and its ring. Type 5 is accepted but has no
// ring; a driver with an error status is in no ring.
//
// The generation counter g_fs_change moves on every time the set of drivers is rebuilt; a file
// handle that carries an older value is refused by every file operation.
//
// Every function takes library_lock().
#pragma once

#include <cstdint>

#include "krt/driver.h"

namespace krt {

constexpr int kRingTypes = 5;  // driver types 0..4 have a ring and a work driver
constexpr uint32_t kDefaultPackPeriodMs = 3600000;  // pack period after start-up

// Rebuilds the ring of type t from the driver table: clears the ring links of every entry of
// type t, then links those with err_state 0 (trace "none type t driver!" when there is none).
// Types outside 0..kRingTypes-1 are ignored. Returns nothing.
void build_type_ring(int t);

// Clears the ring links of every entry in use, rebuilds the rings of types 0..4, then
// increments the generation counter (trace "g_fs_change: n"). Returns nothing.
void rebuild_work_drivers();

// Forgets every work driver (start-up, before the driver table is filled anew). Returns nothing.
void clear_work_drivers();

// The work driver of type t; null when the type has no healthy driver or t is outside 0..4.
DriverParam* work_driver(int t);

// Makes p, a member of the ring of type t, the type's work driver (the ring's order is kept).
// Returns false, changing nothing, when t is outside 0..4 or p is not of type t or not linked
// into a ring.
bool set_work_driver(int t, DriverParam& p);

// The number of drivers in the ring of type t (0 for t outside 0..4).
int type_driver_count(int t);

// Takes p out of the ring it is linked into, joining its neighbours, and clears its links.
// When p was the work driver of its type, the type's work driver becomes p's successor (none
// when p was alone). Returns whether p was linked.
bool unlink_from_ring(DriverParam& p);

// Sets the writer's pack period (how long a file runs before the writer splits it) to
// seconds x 1000 ms (saturating) when seconds >= 60; smaller values are ignored. Start-up sets
// it back to kDefaultPackPeriodMs. Returns nothing.
void set_pack_period(uint32_t seconds);

// The writer's pack period in milliseconds.
uint32_t pack_period_ms();

// The generation counter g_fs_change.
int32_t fs_change();

// Increments the generation counter and returns its new value (rebuild_work_drivers does this
// itself; attaching disks anew goes through start-up, which rebuilds).
int32_t bump_fs_change();

}  // namespace krt
