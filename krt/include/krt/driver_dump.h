// The diagnostic tables of the driver table.
//
// Four tables, one row per driver entry in use, in slot order:
//
//   driver basic parameter:      ring successor, type and the area offsets of the block
//   driver operation parameter:  lap, error status and the two laps' times and clusters;
//                                "*" opens the row of a work driver
//   driver time chart:           a bar of 64 columns per driver over the ordered list of all
//                                lap start and end times
//   driver time sections:        every time section with its clusters and times, "(error)"
//                                after a section whose end lies before its start
//
// Start-up prints them at the info level, which produces no output; the `krt info` command
// prints them to standard output.
#pragma once

#include <cstdio>

namespace krt {

// Prints the four tables to out. Work drivers of types 0, 3 and 4 have their live state
// brought up to date first (refresh_live_state in sections.h). Takes library_lock().
// Returns nothing.
void dump_driver_tables(std::FILE* out);

}  // namespace krt
