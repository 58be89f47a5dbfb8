// Read-ahead under the sector cache: the cache asks for one sector at a time, a spinning disk
// wants few large reads in order. This stage keeps a few windows of sectors read in one
// request each and serves the cache's single-sector reads from them.
//
// A window belongs to a stream of reads. A read that falls in a window is served from it; a
// read that lies ahead of a window, no further past its end than the window is long, continues
// that stream: the window doubles (up to kReadAheadMaxSectors, 1 MiB) and is read afresh from
// the sector asked for. A read just before a window (a walk towards lower sectors) continues it
// the same way, with a window that ends where the old one began. Any other read is random access: it takes the stream used longest ago
// and starts it at kReadAheadMinSectors around the sector (on a spinning disk 64 KiB cost
// little more than one sector, and a search's next probes often fall in them). So whole index and directory stretches are read in
// requests of up to 1 MiB, interleaved walks keep one stream each, and random reads cost one
// small request.
//
// Budget: kReadAheadStreams windows of kReadAheadMaxSectors sectors, 8 MiB in all, fixed and
// allocated statically, like the sector cache.
//
// Bytes are never changed: every byte served is one the disk returned for that sector. A read
// that fails as a whole is retried for the one sector asked for, so a bad sector fails, and is
// reported, exactly as without read-ahead. A window never leaves the mounted partition that
// holds the sector asked for (up to the end of its data area); a sector outside every mounted
// partition is read alone, so a damaged disk cannot lead reads anywhere else.
// All windows are dropped when library_changes() moves on: at a write of the library (rare: a
// recorder disk is never written), at start-up, on attach and when the hooks change.
//
// Every function takes library_lock().
#pragma once

#include <cstdint>

namespace krt {

constexpr int kReadAheadStreams = 8;
constexpr uint32_t kReadAheadMinSectors = 128;   // 64 KiB: a random read
constexpr uint32_t kReadAheadMaxSectors = 2048;  // 1 MiB: the largest request

// Reads one sector of disk into buf (512 bytes), from a window or from the disk. Returns 0, or
// the read hook's non-zero code for that sector alone (reported by report_disk_error).
int readahead_sector(int disk, uint64_t sector, uint8_t* buf);

// Drops every window.
void readahead_forget_all();

// Turns read-ahead on (the default) or off; off, every sector is read alone, as the cache asks
// for it (tests compare the two, and check the cache's own recycling with it off). Drops every
// window.
void set_readahead(bool on);

// Turns read-ahead off when the environment says KRT_READAHEAD=off (the benches' comparison);
// otherwise leaves it as it is.
void readahead_from_environment();

}  // namespace krt
