// The sector cache: 128 buffers of one 512-byte sector each, for every metadata access.
//
// Version block, partition table, parameter blocks, collision tables, directory items, index
// bytes and user-data items are all read and changed one sector at a time through here. A
// caller takes a buffer (bread), reads or changes its bytes, marks it dirty when it changed
// them (bdirty), optionally writes it at once (bwrite), and gives it back (brelse). Recording
// data and bulk zeroing bypass the cache (disk_io_read / disk_io_write). A buffer that must be
// read is read through the read-ahead windows of readahead.h (8 MiB), which serve neighbouring
// sectors from few large requests; the cache and the windows together stay fixed in size.
//
// Buffers are found through 256 hash chains keyed by the low byte of the sector number and
// recycled in the order in which they were last given a new identity: the ring head is always
// the buffer assigned longest ago. A dirty buffer is written when it is recycled, when its disk
// is flushed, or by bflush_all. With the default write hook writes reach no disk, so a changed
// sector stays visible to later reads only until its buffer is recycled.
//
// Every function takes library_lock(). The bytes of a held buffer belong to its holders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace krt {

constexpr int kCacheBuffers = 128;    // buffers in the cache
constexpr int kCacheChains = 256;     // hash chains
constexpr int kIoScratchSectors = 16; // sectors of the io scratch buffer

// One cache buffer. Callers read `data` (512 bytes) and the identity; they change only the
// bytes of `data`, through bdirty() to mark them changed.
struct Buf {
  int32_t disk;       // disk index (the hooks get its low 16 bits)
  uint64_t sector;    // absolute sector number
  uint8_t valid;      // 1 when data holds the sector's contents
  uint8_t dirty;      // 1 when data was changed and not yet written
  uint8_t refs;       // number of holders
  uint64_t assigned;  // when the buffer got its identity (a counter; larger = later)
  Buf* hash_prev;     // chain of the buffers whose sector has the same low byte
  Buf* hash_next;     //
  Buf* ring_prev;     // circular list of all buffers, oldest assignment at the head
  Buf* ring_next;     //
  uint8_t* data;      // the buffer's 512-byte block (aligned to 512)
};

// Forgets every buffer, dirty or not: no identity, not valid, not held, no chains, ring in
// array order with the head at buffer 0. Writes nothing. Called at each library start-up.
void binit();

// A held buffer with the identity (disk, sector), its data valid or not. Returns null when every
// buffer is held (or the sector's buffer already has 255 holders). Recycling a dirty buffer
// writes it first.
Buf* getblk(int disk, uint64_t sector);

// A held buffer with the valid contents of (disk, sector). Returns null when no buffer is free
// or when the read fails (the failure is reported by report_disk_error; the buffer is left
// invalid and not held).
Buf* bread(int disk, uint64_t sector);

// Marks a held buffer's data changed. Null is ignored.
void bdirty(Buf* b);

// Sets a held buffer's data to zeros and marks it valid, without reading the sector: for a
// sector that was just written as zeros or whose contents the caller replaces whole. Null is
// ignored.
void bclear(Buf* b);

// Gives every cached copy of sectors first .. first + count - 1 of disk zero data, valid and
// clean. Called after a direct transfer wrote zeros over those sectors, so that the cache never
// keeps older contents than the disk; with the default write hook, later reads then show the
// zeros for as long as the cache keeps the sector. Sectors not in the cache stay uncached.
void bzero_cached(int disk, uint64_t first, uint64_t count);

// Writes a dirty buffer through the write hook and clears its dirty mark. Returns 0 (also when
// it was not dirty), or 1 when the write hook failed (reported by report_disk_error).
int bwrite(Buf* b);

// Drops one hold of a buffer. Null is ignored. Releasing a buffer that nobody holds logs the
// warning "Trying to free free buffer" and changes nothing.
void brelse(Buf* b);

// Releases a held buffer when it goes out of scope: HeldBuf b(bread(disk, sector)).
struct BufRelease {
  void operator()(Buf* b) const { brelse(b); }
};
using HeldBuf = std::unique_ptr<Buf, BufRelease>;

// Writes every dirty buffer of disk, in array order. Returns 0, or 1 when a write failed.
int bflush(int disk);

// Writes every dirty buffer of every disk, in array order. Returns 0, or 1 when a write failed.
int bflush_all();

// The 8 KiB (16-sector) scratch buffer, aligned to 512 bytes, for the library's direct
// multi-sector transfers. Callers hold library_lock() while they use it.
uint8_t* io_scratch();

// ---- Checks (used by tests and debug builds) ----------------------------------------------

// Checks the cache's invariants (numbered at the top of cache.cpp). Returns an empty string
// when they all hold, else the number and text of the first broken rule.
std::string cache_check();

// The buffer header at array position 0..kCacheBuffers-1 (tests); null for other positions.
const Buf* cache_buffer(int index);

// The buffer at the ring head: the next one looked at for recycling (tests).
const Buf* cache_ring_head();

}  // namespace krt
