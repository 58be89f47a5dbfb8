// Direct transfers with their wake-up check and access stamps, disk error reports and events.
#include "krt/disk_io.h"

#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "krt/clock.h"
#include "krt/driver.h"
#include "krt/io_trace.h"
#include "krt/lock.h"
#include "krt/log.h"

namespace krt {
namespace {

// All protected by library_lock().
AccessStamp g_stamps[kMaxDisks];
WakeFn g_wake_before = nullptr;
WokenFn g_wake_after = nullptr;
DiskErrorReport g_error_report{};
EventHook g_event_hook = nullptr;
uint64_t g_changes = 0;

uint64_t now_ms() { return clock_ms(); }

bool valid_disk(int disk) { return disk >= 0 && disk < kMaxDisks; }

uint32_t hook_lo(uint64_t sector) { return uint32_t(sector); }
uint32_t hook_hi(uint64_t sector) { return uint32_t(sector >> 32); }

// The steps every transfer takes after its hook ran: a stamp on success, a report on failure.
int finish_transfer(int disk, uint64_t sector, int kind, int result) {
  if (result != 0) {
    report_disk_error(disk, sector, kind);
    return result;
  }
  stamp_disk_access(disk);
  return 0;
}

// The read hook, timed and noted in the trace (and slowed down in the slow-disk mode).
int hook_read(int disk, uint16_t count, uint64_t sector, uint8_t* buf) {
  disk_wake_check(disk);
  const auto started = std::chrono::steady_clock::now();
  const int result = disk_hooks().read(uint16_t(disk), count, hook_lo(sector), hook_hi(sector), buf);
  const auto took = std::chrono::steady_clock::now() - started;
  io_note_read(disk, sector, count, uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
  return result;
}

}  // namespace

int disk_io_read(int disk, uint16_t count, uint64_t sector, uint8_t* buf) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return finish_transfer(disk, sector, kDiskErrorRead, hook_read(disk, count, sector, buf));
}

int disk_io_read_ahead(int disk, uint16_t count, uint64_t sector, uint8_t* buf) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int result = hook_read(disk, count, sector, buf);
  if (result == 0) stamp_disk_access(disk);
  return result;
}

int disk_io_write(int disk, uint16_t count, uint64_t sector, const uint8_t* buf) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  note_library_change();  // read-ahead windows drop what they hold when this moves on
  disk_wake_check(disk);
  const int result =
      disk_hooks().write(uint16_t(disk), count, hook_lo(sector), hook_hi(sector), buf);
  return finish_transfer(disk, sector, kDiskErrorWrite, result);
}

uint64_t library_changes() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_changes + disk_set_generation();
}

void note_library_change() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ++g_changes;
}

void init_access_stamps() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const uint64_t now = now_ms();
  for (AccessStamp& s : g_stamps) s = AccessStamp{now, 0};
}

void stamp_disk_access(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (valid_disk(disk)) g_stamps[disk].last_ms = now_ms();
}

AccessStamp access_stamp(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return valid_disk(disk) ? g_stamps[disk] : AccessStamp{0, 0};
}

void set_wakeup_callbacks(WakeFn before, WokenFn after) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_wake_before = before;
  g_wake_after = after;
}

void disk_wake_check(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!valid_disk(disk)) return;
  const AccessStamp s = g_stamps[disk];
  if (s.timeout_ms == 0 && s.last_ms != 0) return;
  if (now_ms() - s.last_ms <= s.timeout_ms / 2) return;
  if (!g_wake_before || !g_wake_after) return;
  g_wake_before(s.timeout_ms / 2);
  disk_activate(disk);
  g_wake_after();
}

int set_disk_standby(int disk, int minutes) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int result = disk_standby(disk, minutes);
  if (valid_disk(disk)) g_stamps[disk] = AccessStamp{0, uint32_t(minutes) * 60000u};
  return result;
}

int set_standby(int minutes) {
  DiskInfo info{};
  get_disk_info(&info);
  const int result = set_standby_all(info.ide_mask, minutes);
  if (result != 0) {
    log_warn("ide_setstabdby_multi error!!!!\n");
    return result;
  }
  log_trace("Set Multi_standby OK !!!\n");
  return 0;
}

void report_disk_error(int disk, uint64_t sector, int kind) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  fs_event("StorageDeviceError", "%s, /dev/sd%d%c, %" PRId64, kind == kDiskErrorWrite ? "Write" : "Read",
           disk, 'a', int64_t(sector));
  DriverParam* p = get_pdp(disk, 0);
  if (!p || p->err_state != 0) return;
  const uint64_t data_start = p->start_sector + p->data_off;
  const uint64_t data_end = data_start + uint64_t(p->total_clus) * p->sector_per_clus;
  if (sector >= data_end) {
    log_warn("disk access parameter error : disk %d, offset %d,  error %d\n", disk, int(uint32_t(sector)),
             kind);
    return;
  }
  log_warn("disk access io error : disk %d, offset %d,  error %d\n", disk, int(uint32_t(sector)), kind);
  const uint64_t recording_start = data_start + uint64_t(p->rev_clus) * p->sector_per_clus;
  if (sector >= recording_start || !valid_disk(disk)) return;
  const uint32_t bit = 1u << disk;
  if (kind == kDiskErrorWrite) g_error_report.write_mask |= bit;
  if (kind == kDiskErrorRead) g_error_report.read_mask |= bit;
  g_error_report.sector[disk] = sector;
  g_error_report.bad_mask |= bit;
  p->err_state = kErrStateDiskError;
}

DiskErrorReport disk_error_report() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_error_report;
}

void clear_disk_error_report() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_error_report = DiskErrorReport{};
}

void set_event_hook(EventHook hook) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_event_hook = hook;
}

int fs_event(const char* event_name, const char* fmt, ...) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!g_event_hook) return 0;
  char text[kEventTextChars + 1];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  g_event_hook(event_name, text);
  return 0;
}

}  // namespace krt
