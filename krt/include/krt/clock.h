// The library's clock: the tick count and the wall-clock time, from one source.
//
// Everything in the library that asks "how late is it" asks here: the tick count (milliseconds
// of a steady clock, for handle ages, access stamps and the writer's file splitting) and the
// recorder's wall clock (clock_now(), or time_now(), for directory items, driver times and log
// lines). By default both come from this machine: a steady clock and the local time of day.
//
// A manual clock replaces both for tests and for tools that record a simulated recorder: it
// stands still until it is moved, its wall clock advances together with its tick count, and
// its wall clock can be set to any time (a recorder whose clock is changed) without moving the
// tick count.
//
// Every function takes library_lock().
#pragma once

#include <cstdint>

namespace krt {

// Milliseconds of the library's steady clock (64 bits, never wraps in practice).
uint64_t clock_ms();

// The tick count: clock_ms() cut to 32 bits, wrapping after 49.7 days. Differences of two
// tick counts taken as uint32_t stay right across the wrap.
uint32_t tick_count();

// The wall-clock time of the library as a packed time (see packed_time.h): this machine's
// local time of day (year clamped into 2000..2063) unless a manual clock is in use.
uint32_t clock_now();

// The same as clock_now(): the name the writer and the directory layer use.
uint32_t time_now();

// Switches to a manual clock standing at tick `tick_ms` and wall-clock time `now` (a packed
// time). Returns nothing.
void use_manual_clock(uint32_t now, uint64_t tick_ms = 0);

// Moves the manual clock on by ms milliseconds: the tick count and the wall clock advance
// together. Does nothing while the system clock is in use.
void advance_clock(uint64_t ms);

// Sets the manual clock's wall-clock time to `now` (packed), keeping its tick count: the clock
// of a recorder that is changed. Does nothing while the system clock is in use.
void set_clock_time(uint32_t now);

// Goes back to the system clock (the default). Returns nothing.
void use_system_clock();

// Whether the manual clock is in use.
bool manual_clock_in_use();

}  // namespace krt
