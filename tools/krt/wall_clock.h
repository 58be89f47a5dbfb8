// The recorder's clock as a moment: read in this machine's time zone, or in the zone --tz
// names.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Reads the recorder's clock in zone from now on (for every local_time_of of this process): an
// IANA zone name with its file under TZDIR or /usr/share/zoneinfo ("Europe/Berlin", "UTC"), or
// an offset from UTC "+HH:MM" / "-HH:MM" (at most 14 hours). Returns false, changing nothing,
// for anything else.
bool set_time_zone(const std::string& zone);

// A packed time of the recorder (krt/packed_time.h), which counts the recorder's local wall
// clock, as seconds since 1970 (UTC), reading that clock in this machine's zone (or the one
// set_time_zone set): what `ls` shows as that very clock time. 0 for a zero
// time.
std::time_t local_time_of(uint32_t packed);
