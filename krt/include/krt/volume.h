// Volume start-up and the record calendar.
//
// volume_startup() is the one call that brings the recorder disks up: it attaches them, starts
// the file-system library (mounting every partition), makes the recordings reachable as files
// under "/mnt" through the virtual file table, and fills the record calendar -- which channels
// of each partition of the first disk have recordings that start on which day. The viewer's
// record tree builds its partition, day and channel levels from the calendar alone; the `krt`
// tool uses the same call. It lives in the library (not in the viewer) so that the tool can use
// it without the user-interface toolkit.
//
// The calendar is filled from the cluster index (one byte per cluster) plus one directory item
// per file; a file is entered on the day it starts only, however long it runs. Only disk 0 is
// described; recordings on other disks never appear in it (the tool lists those through each
// partition's "WorkDirectory", see adapter.h).
//
// Every function takes library_lock() for its whole run. A rerun (after a hot-plug change)
// rebuilds the disk table, the driver table, the cache and the calendar, and moves the
// file-system generation on, so every file handle opened before it is refused afterwards.
#pragma once

#include <cstdint>

#include "krt/layout.h"

namespace krt {

constexpr int kCalendarYears = 63;   // years 2000..2062
constexpr int kCalendarMonths = 12;  // months 1..12
constexpr int kCalendarDays = 31;    // days 1..31

// The record calendar of disk 0.
struct RecordCalendar {
  // Bit p: partition p produced at least one calendar entry.
  uint32_t partition_mask;
  // day_mask[p][year - 2000][month - 1][day - 1]: bit b set when a file of channel b, or of
  // channel b + 32, starts on that day (channels 32..63 share the bits of 0..31). Months shorter
  // than 31 days leave their last day masks 0.
  uint32_t day_mask[kMaxPartitions][kCalendarYears][kCalendarMonths][kCalendarDays];
};

// Brings the disks up, in this order: switches the library's trace and info lines on when
// VENDREL_LOG asks for them (log.h); attach_disks; krt_file_sys_init with a shutdown time of
// 0 (its result code is not used); a 10-minute standby time for all disks; wakes the disks of
// the work drivers; a one-day pack period for the writer; registers the adapter's operations
// under "/mnt" (replacing an earlier registration of "/mnt", so reruns never use up entries of
// the virtual file table); clears the record calendar; build_calendar().
// Returns the number of healthy type-0 drivers that start-up reported (0 without disks).
int32_t volume_startup();

// Wakes the disk of each work driver (types 0..4) that exists and stamps its access time.
// Returns nothing.
void activate_work_disks();

// Fills the record calendar from the mounted drivers of disk 0, on top of what it holds: for
// partition p = 0..3 of disk 0 whose table entry has a size, whose driver is mounted and whose
// current_cluster is not 0, walks the file starts of the current lap, then of the older lap,
// and for each file starting in 2000..2062 whose channel folder of that day lists a recording
// (the listing's own search confirms it, so the calendar never shows a day or channel that
// lists nothing) sets bit (channel mod 32) of its day and bit p of the partition mask. Does nothing without disks or when disk 0's partition table cannot be
// read; skips a directory item that cannot be read. Returns nothing.
void build_calendar();

// Clears the whole record calendar. Returns nothing.
void clear_calendar();

// The record calendar. Read it on the thread that runs volume_startup (or hold
// library_lock()): a rerun rebuilds it in place.
const RecordCalendar& record_calendar();

// The partition mask of the record calendar.
uint32_t calendar_partition_mask();

// The day mask of partition part (0..3) for the date; 0 for a partition, year (2000..2062),
// month (1..12) or day (1..31) outside the calendar.
uint32_t calendar_day_mask(int part, int year, int month, int day);

}  // namespace krt
