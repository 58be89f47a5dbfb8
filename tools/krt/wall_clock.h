// The recorder's clock as this machine's time.
#pragma once

#include <cstdint>
#include <ctime>

// A packed time of the recorder (krt/packed_time.h), which counts this machine's local wall
// clock, as seconds since 1970 (UTC): what `ls` shows as that very clock time. 0 for a zero
// time.
std::time_t local_time_of(uint32_t packed);
