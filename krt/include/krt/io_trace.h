// Seeing the disk layer's reads: a trace of every transfer, a model of what a read costs on a
// spinning disk or a USB flash disk, and a slow-disk mode that makes each read take that long.
//
// Recorder disks are examined through USB docks. On a spinning disk every read that does not
// continue the one before it costs a seek and a rotation, and a single sector costs nearly as
// much as a megabyte; on the page cache of a benchmark the same reads cost nothing. The trace
// records what the library asks of the disk, the model prices it, and the slow-disk mode lets
// the viewer and the benches feel it.
//
// Trace format: text, one line per read ("read DISK FIRST_SECTOR SECTORS WALL_US"), after a
// comment line beginning with '#'. WALL_US is the microseconds the read hook took.
//
// The trace and the slow-disk mode are set by set_io_trace / set_disk_emulation, or from the
// environment by io_settings_from_environment: VENDREL_IO_TRACE=FILE and
// KRT_EMULATE_DISK=hdd|ssd (KRT_READAHEAD=off, read by readahead_from_environment, reads every
// sector of the cache alone, to compare with the read-ahead of readahead.h). Every function takes library_lock() unless it says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "krt/disk.h"

namespace krt {

// What a read costs on a disk: a fixed time for a read that does not continue the previous
// read of the same disk (seek and rotation), plus its bytes at the transfer rate.
struct DiskModel {
  const char* name;      // "hdd" or "ssd"
  double seek_ms;        // per read that starts somewhere else
  double bytes_per_ms;   // transfer rate
};

inline constexpr DiskModel kSpinningDiskModel{"hdd", 8.5, 150e3};  // 8.5 ms, 150 MB/s
inline constexpr DiskModel kUsbSsdModel{"ssd", 0.1, 350e3};        // 0.1 ms, 350 MB/s

// The model called name ("hdd", "ssd"); null for any other name. Takes no lock.
const DiskModel* disk_model_named(std::string_view name);

// Adds up a sequence of reads on a model: calls, bytes, separate places (reads that do not
// begin where the previous read of the same disk ended) and the model's time. Takes no lock.
class DiskModelClock {
 public:
  explicit DiskModelClock(const DiskModel& model) : model_(model) {}

  // Accounts one read of count sectors at sector of disk. Returns what it costs, in ms.
  double read(int disk, uint64_t sector, uint64_t count);

  uint64_t calls() const { return calls_; }
  uint64_t bytes() const { return bytes_; }
  uint64_t places() const { return places_; }
  double ms() const { return ms_; }

 private:
  DiskModel model_;
  uint64_t next_[kMaxDisks] = {};  // sector after the last read of each disk
  bool seen_[kMaxDisks] = {};
  uint64_t calls_ = 0, bytes_ = 0, places_ = 0;
  double ms_ = 0;
};

// Starts writing the trace to path (truncated), or stops it with an empty path. Returns false,
// with the trace off, when the file cannot be created.
bool set_io_trace(const std::string& path);

// Makes every read of the disk layer take as long as it would on model (null: off, the default).
void set_disk_emulation(const DiskModel* model);

// The slow-disk model in use; null when off.
const DiskModel* disk_emulation();

// Applies VENDREL_IO_TRACE and KRT_EMULATE_DISK when they are set (VENDREL_IO_TRACE only while
// no trace is being written: a trace set earlier, or by an earlier call, goes on). Returns an empty string, or what was wrong with them (an unknown
// model, a trace file that cannot be created), which is then not applied.
std::string io_settings_from_environment();

// Called by the disk layer around each read hook: notes the read in the trace and, in the
// slow-disk mode, waits until it has taken as long as the model says. wall_us = the time the
// hook took.
void io_note_read(int disk, uint64_t sector, uint64_t count, uint64_t wall_us);

}  // namespace krt
