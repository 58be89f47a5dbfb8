// Direct disk transfers, access stamps, disk error reports and events.
//
// This is the library side of the disk layer. Every transfer of the library, cached or direct,
// runs the same steps: a wake-up check for the disk, the read or write hook (see disk.h), and
// then either an access stamp (success) or a disk error report (failure).
//
// All functions take library_lock() themselves.
#pragma once

#include <cstdint>

#include "krt/disk.h"

namespace krt {

// ---- Direct transfers ------------------------------------------------------------------------

// Reads count sectors starting at absolute sector of disk into buf, bypassing the sector
// cache. Returns 0, or the read hook's non-zero code after report_disk_error(disk, sector,
// kDiskErrorRead).
int disk_io_read(int disk, uint16_t count, uint64_t sector, uint8_t* buf);

// Reads count sectors like disk_io_read, for a read-ahead window that asks for more than its
// caller needs: a failure is returned (the read hook's code) but not reported, since the caller
// then reads the sector it needs alone, which reports a bad sector as usual.
int disk_io_read_ahead(int disk, uint16_t count, uint64_t sector, uint8_t* buf);

// Writes count sectors from buf, bypassing the cache. Drops read-ahead windows over them. Returns 0, or the write hook's non-zero
// code after report_disk_error(disk, sector, kDiskErrorWrite). With the default hook nothing
// reaches the disk.
int disk_io_write(int disk, uint16_t count, uint64_t sector, const uint8_t* buf);

// ---- Changes ---------------------------------------------------------------------------------

// A count that moves on at every change the library makes to sectors (a cached sector marked
// changed, cleared or zeroed, a transfer written), at every start-up of the sector cache
// (binit) and whenever the disks or hooks change (disk_set_generation). What was worked out from the disk's sectors stays true while it stands still.
uint64_t library_changes();

// Moves library_changes() on (called by the cache and the write path).
void note_library_change();

// ---- Access stamps and standby ------------------------------------------------------------

// When a disk was last accessed and after how long it goes to standby.
struct AccessStamp {
  uint64_t last_ms;     // steady-clock milliseconds of the last access; 0 = never
  uint32_t timeout_ms;  // standby timeout; 0 = none
};

// Stamps every disk slot with the current time and a timeout of 0 (done at library start-up).
void init_access_stamps();

// Stamps disk's last access with the current time. Disks outside 0..kMaxDisks-1 are ignored.
void stamp_disk_access(int disk);

// The access stamp of disk (zero for disks outside 0..kMaxDisks-1).
AccessStamp access_stamp(int disk);

// Called around waking a disk up: before(timeout / 2) and after(). Both null by default.
using WakeFn = void (*)(uint32_t half_timeout_ms);
using WokenFn = void (*)();

// Installs the wake-up callbacks; the wake-up check acts only when both are set.
void set_wakeup_callbacks(WakeFn before, WokenFn after);

// The wake-up check run before every transfer: when the disk has a standby timeout and was
// last accessed more than half of it ago, calls before(timeout / 2), disk_activate() and
// after(). Does nothing when a callback is missing.
void disk_wake_check(int disk);

// Puts disk's standby timer to minutes: calls disk_standby() and sets its access stamp to a
// timeout of minutes * 60,000 ms and a last access of 0. Returns disk_standby()'s result.
int set_disk_standby(int disk, int minutes);

// Sets the standby timer of the disks in the disk table's mask. Returns 0, or the non-zero
// result of set_standby_all() after the warning "ide_setstabdby_multi error!!!!".
int set_standby(int minutes);

// ---- Disk errors ------------------------------------------------------------------------------

constexpr int kDiskErrorWrite = 1;  // kind of a failed write
constexpr int kDiskErrorRead = 2;   // kind of a failed read

// The failures that hit the metadata of a partition (see report_disk_error).
struct DiskErrorReport {
  uint32_t read_mask;             // bit d: a read of disk d failed
  uint32_t write_mask;            // bit d: a write of disk d failed
  uint64_t sector[kMaxDisks];     // failing sector of each disk
  uint32_t bad_mask;              // bit d: disk d is bad
};

// Reports a failed transfer of disk at absolute sector; kind is kDiskErrorRead or
// kDiskErrorWrite. Emits the event "StorageDeviceError" ("Read, /dev/sd%da, %lld" or
// "Write, ..."). Then, with the driver of (disk, partition 0), when it exists and has no error
// yet: a sector past the end of its data area only gets the warning "disk access parameter
// error ..."; any other sector gets the warning "disk access io error ..."; when the sector lies
// before the partition's recording clusters (its metadata or reserved clusters), the disk's bit
// is also set in the read or write mask and in the bad mask, the sector is stored and the
// driver's error status becomes 15. Returns nothing.
void report_disk_error(int disk, uint64_t sector, int kind);

// A copy of the library's disk error report.
DiskErrorReport disk_error_report();

// Clears the library's disk error report.
void clear_disk_error_report();

// ---- Events -------------------------------------------------------------------------------

// Receives events of the library: an event name ("StorageDeviceError", "ClearDriver",
// "TimeChanged", "DiskOver") and a text of at most kEventTextChars characters.
using EventHook = void (*)(const char* event_name, const char* text);

constexpr int kEventTextChars = 67;

// Installs the event hook; null (the default) drops every event.
void set_event_hook(EventHook hook);

// Formats the text (cut to kEventTextChars characters) and passes it with event_name to the
// event hook, if one is installed. Returns 0.
int fs_event(const char* event_name, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace krt
