// The "/mnt" adapter: the recordings of every mounted KRT partition as an ordinary file tree.
//
// The adapter fills one operation table of the virtual file table (vfs/fileops.h); the volume
// start-up (volume.h) registers it under the prefix "/mnt". Programs never call it directly:
// CFSFile and CFSFileFind pick it by the path and call its slots. Names follow the grammar of
// recording_path.h:
//
//   /mnt/idea0/2010-03-05/002/*                                   find first / next / close
//   /mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264 open, read, seek, tell, close
//   /mnt/idea0/WorkDirectory                                      open, one read of the calendar
//   /mnt/idea0                                                    disk space
//
// What the slots do (failure values as vfs/fileops.h says: null, 0 elements, or -1):
//
//   open ........ A recording path opens the file by its first cluster, which must be the first
//                 cluster of a file of the channel the path names; a name without a cluster,
//                 or with one below the partition's first recording cluster, opens the first
//                 file of that channel on that partition that starts at or after the name's
//                 start time and repeat number. Mode "rb" (or "r") reads;
//                 any other mode makes a handle for writing a new recording of the channel
//                 the name gives (its cluster field is ignored), see write below. A recording may begin with a "DHII" header: four bytes "DHII",
//                 then its length in bytes (uint32, little-endian). The header is hidden: the
//                 caller's position 0 is the first byte after it. The header length in sectors
//                 is remembered in the first cluster's directory item (hdr_sectors, in the
//                 sector cache only: the disk is never changed). A refused open returns null
//                 with errno ENOENT (no such file) or EIO (a read failed) and a warning line
//                 "recording PATH not opened: REASON (result N)".
//   read ........ Delivers the recording's bytes after the header. The length is counted in
//                 whole kilobytes -- (sectors of the file / 2) x 1024 bytes -- so the last
//                 sector of a file with an odd sector count is never delivered. Reads of more
//                 than half the handle's buffer at a 512-aligned position and of a multiple of
//                 512 bytes go straight from the disk into the caller's memory; others go
//                 through the handle's buffer (32 KB for video, 4 KB for pictures). The length
//                 is looked up again when a read reaches the end, so a file still growing keeps
//                 getting longer. Lengths stop at 4 GiB - 1 KB (positions are 32-bit).
//   seek, tell .. Positions after the header; seek refuses a position before the start or past
//                 the end. Tell returns -1 past 2 GiB (the slot returns a signed 32-bit value).
//   find ........ Lists the recordings of one channel of one partition that start on one day,
//                 in ascending start time: name (the file component), attrib 0, write time =
//                 the start time (the recorder's wall clock, as seconds since 1970 counted as
//                 UTC), size = the length read() delivers. A file that began the day before and
//                 runs past midnight belongs to the day it started. Each file is checked as
//                 it is listed: one that open would refuse is left out, with a warning line
//                 that says why; one whose clusters end before its directory item's count is
//                 listed with the size its clusters hold (a warning gives both), so every
//                 listed file opens and reads to its listed size.
//   WorkDirectory One read of exactly kWorkCalendarBytes bytes (size x count) fills the
//                 caller's buffer with the partition's recording calendar (below) and returns
//                 count; a read of any other size returns 0 and leaves the handle unread; later
//                 reads return 0.
//   disk space .. Total = total_clus x cluster bytes; free = clusters after the write position.
//   write ....... (handles open for writing) Appends to a new recording through the writer
//                 (file_write.h): the first write makes the partition the work driver of its
//                 type and writes a 256 KB head of zeros, which every directory item of the
//                 file hides (hdr_sectors 512). Bytes collect in the handle's buffer and go out
//                 when it is full; large 512-aligned writes go straight to the writer. A write
//                 is refused (0) when fewer than three clusters are left after the partition's
//                 write position. Returns count, or 0 when a transfer fails.
//   flush ....... Writes out the buffered bytes: up to the end of the file's last kilobyte, the
//                 bytes after the end filled with 0xFF (later bytes replace them).
//   rename ...... Opens the old name for reading and writes its file's directory item back as
//                 it stands; the new name's type letter changes the open handle only. Returns
//                 0, or -1 when the old name does not open, the new name is not a recording
//                 name, or the write fails. What a rename should change is not settled.
//   Every write reaches the disk only through the write hook (disk.h), which discards it in the
//                 viewer: its disks never change.
//   remove, make/remove directory, write line: fail; read line returns null; access returns 0.
//
// Every slot is serialised: open, close, read, write, flush, seek and find first run between
// the enter and leave hooks (by default: taking and releasing library_lock()); the other slots
// take library_lock() themselves. A volume start-up rerun invalidates every open handle; later
// calls on it fail cleanly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "krt/disk_io.h"
#include "vfs/fileops.h"

namespace krt {

// ---- The operation table --------------------------------------------------------------------

constexpr const char* kAdapterPrefix = "/mnt";  // where volume_startup registers the table

// The adapter's 18 slots, in slot order. The table lives for the whole process.
const FileOps* adapter_file_ops();

// ---- Enter and leave hooks --------------------------------------------------------------------

// A hook called without arguments around the adapter's slots.
using LibraryHook = void (*)();

// Installs the wake-up callbacks of the disk layer (set_wakeup_callbacks in disk_io.h) and the
// adapter's enter and leave hooks, in one call. A null enter or leave puts back the default
// pair, which takes and releases library_lock(); hooks given must serialise the slots as that
// pair does (they run in the calling thread: enter at the start of a slot, leave at its end;
// they nest, as close and seek run the flush slot inside their own pair).
// Install hooks before any slot runs. Returns nothing.
void set_library_hooks(WakeFn before_wake, WokenFn after_wake, LibraryHook enter, LibraryHook leave);

// ---- Work-directory calendar ------------------------------------------------------------------

constexpr int kWorkCalendarYears = 64;        // years 2000..2063
constexpr int kWorkCalendarMonthSlots = 13;   // slot 0 unused, slots 1..12 the months
constexpr size_t kWorkCalendarBytes = kWorkCalendarYears * kWorkCalendarMonthSlots * 4;  // 3328
static_assert(kWorkCalendarBytes == 3328);

// The calendar a work-directory read delivers: uint32 little-endian words, word
// [(year - 2000) x 13 + month] holding bit d when a recording of the partition (any channel,
// current or older lap) starts on day d of that month (bit 0 never set).
// Returns that word of block (kWorkCalendarBytes bytes); 0 for a year outside 2000..2063 or a
// month outside 1..12.
uint32_t work_calendar_days(const uint8_t* block, int year, int month);

// The bytes of the "DHII" header that open hides at the start of the recording whose first
// cluster is first_cluster on disk's partition part: whole sectors, 0 when it has none (or
// the partition is not mounted, or the cluster is not on it). Reads at most one sector.
uint32_t recording_header_bytes(int disk, int part, uint32_t first_cluster);

}  // namespace krt
