// The read-ahead windows (see readahead.h).
#include "krt/readahead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "krt/disk.h"
#include "krt/disk_io.h"
#include "krt/driver.h"
#include "krt/lock.h"

namespace krt {
namespace {

struct Stream {
  int disk = -1;           // -1: empty
  uint64_t start = 0;      // first sector held
  uint64_t count = 0;      // sectors held
  uint32_t window = 0;     // sectors the next continuation asks for (before doubling)
  uint64_t used = 0;       // when it last served a read (a counter)
};

// All protected by library_lock().
alignas(512) uint8_t g_windows[kReadAheadStreams][kReadAheadMaxSectors * kSectorBytes];
Stream g_streams[kReadAheadStreams];
uint64_t g_use_counter = 0;
uint64_t g_changes = 0;  // library_changes() the windows were read under
bool g_on = true;

bool holds(const Stream& s, int disk, uint64_t sector) {
  return s.disk == disk && sector >= s.start && sector - s.start < s.count;
}

// Whether a read of sector continues s forwards: it lies past s's end by less than s's window.
bool continues(const Stream& s, int disk, uint64_t sector) {
  const uint64_t end = s.start + s.count;
  return s.disk == disk && s.count > 0 && sector >= end && sector - end < s.window;
}

// Whether a read of sector continues s backwards (a walk towards lower sectors): it lies before
// s's start by no more than s's window.
bool continues_back(const Stream& s, int disk, uint64_t sector) {
  return s.disk == disk && s.count > 0 && sector < s.start && s.start - sector <= s.window;
}

// The stream to start afresh for a random read: an empty one, else the one used longest ago.
Stream& stream_to_reuse() {
  Stream* pick = &g_streams[0];
  for (Stream& s : g_streams) {
    if (s.disk < 0) return s;
    if (s.used < pick->used) pick = &s;
  }
  return *pick;
}

// The sectors [first, end) of the mounted partition of disk that holds sector, up to the end of
// its data area. False when no mounted partition holds it: such a sector is read alone, so that
// no window reaches past a partition (a damaged disk must not lead reads anywhere else).
bool partition_around(int disk, uint64_t sector, uint64_t& first, uint64_t& end) {
  for (int i = 0; i < kMaxDrivers; ++i) {
    const DriverParam& p = *driver_slot(i);
    if (!driver_in_use(p) || p.dev != disk) continue;
    const uint64_t last = p.start_sector + p.data_off + uint64_t(p.total_clus) * p.sector_per_clus;
    if (sector >= p.start_sector && sector < last) {
      first = p.start_sector;
      end = last;
      return true;
    }
  }
  return false;
}

}  // namespace

int readahead_sector(int disk, uint64_t sector, uint8_t* buf) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  // A write of the library, other disks or other hooks: what the windows hold may be stale.
  if (g_changes != library_changes()) {
    readahead_forget_all();
    g_changes = library_changes();
  }
  if (!g_on) return disk_io_read(disk, 1, sector, buf);
  for (int i = 0; i < kReadAheadStreams; ++i) {
    Stream& s = g_streams[i];
    if (!holds(s, disk, sector)) continue;
    std::memcpy(buf, g_windows[i] + (sector - s.start) * kSectorBytes, kSectorBytes);
    s.used = ++g_use_counter;
    return 0;
  }
  Stream* stream = nullptr;
  uint32_t window = kReadAheadMinSectors;
  uint64_t first = sector;  // the window's first sector
  for (Stream& s : g_streams) {
    if (continues(s, disk, sector) || continues_back(s, disk, sector)) {
      stream = &s;
      window = std::min(s.window * 2, kReadAheadMaxSectors);
      // Backwards, the window ends where the stream's began (and never before sector 0).
      if (sector < s.start) first = s.start - std::min<uint64_t>(window, s.start);
      break;
    }
  }
  if (!stream) {
    // Random access: a small window around the sector, since searches probe on both sides.
    stream = &stream_to_reuse();
    first = sector - std::min<uint64_t>(sector, window / 2);
  }
  const size_t index = size_t(stream - g_streams);
  uint64_t low = 0, end = 0;
  if (!partition_around(disk, sector, low, end)) low = end = sector;  // read alone below
  first = std::max(first, low);
  const uint64_t count = end > first ? std::min<uint64_t>(window, end - first) : 0;
  *stream = Stream{disk, first, 0, window, ++g_use_counter};
  if (count > sector - first && count > 1 &&
      disk_io_read_ahead(disk, uint16_t(count), first, g_windows[index]) == 0) {
    stream->count = count;
    std::memcpy(buf, g_windows[index] + (sector - first) * kSectorBytes, kSectorBytes);
    return 0;
  }
  // The whole window would not read: the one sector asked for, reported as usual when bad.
  *stream = Stream{};
  return disk_io_read(disk, 1, sector, buf);
}

void readahead_forget_all() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (Stream& s : g_streams) s = Stream{};
}

void set_readahead(bool on) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_on = on;
  readahead_forget_all();
}

void readahead_from_environment() {
  if (const char* value = std::getenv("KRT_READAHEAD"); value && std::string_view(value) == "off") set_readahead(false);
}

}  // namespace krt

