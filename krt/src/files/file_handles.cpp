// The file-handle table: 256 records, the handle check, allocation and release. Closing a
// handle (file_close.cpp) sits above both this table and the writer.
#include <cstring>
#include <mutex>

#include "file_internal.h"
#include "krt/clock.h"
#include "krt/file.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

// Protected by library_lock().
FILEHANDLE g_records[kMaxFileHandles];
uint32_t g_cleared_at = 0;  // driver_table_resets() when g_records were last cleared

// The records, all cleared to zero first when the driver table was reset (library start-up)
// since they were last cleared: every record then belongs to a driver table that is gone.
FILEHANDLE* handles() {
  if (g_cleared_at != driver_table_resets()) {
    std::memset(g_records, 0, sizeof g_records);
    g_cleared_at = driver_table_resets();
  }
  return g_records;
}

// Slot of a pointer that lies on a record boundary inside the table; -1 for any other pointer.
// Compared as integers, so a foreign pointer is never used for pointer arithmetic.
int slot_of(const FILEHANDLE* h) {
  const auto first = reinterpret_cast<uintptr_t>(&g_records[0]);
  const auto p = reinterpret_cast<uintptr_t>(h);
  if (p < first || p - first >= sizeof g_records) return -1;
  if ((p - first) % sizeof(FILEHANDLE) != 0) return -1;
  return int((p - first) / sizeof(FILEHANDLE));
}

// Takes the first free record, clears and stamps it.
FILEHANDLE* take_free_record() {
  for (int slot = 0; slot < kMaxFileHandles; ++slot) {
    FILEHANDLE& h = handles()[slot];
    if (h.file_flag != kFileFree) continue;
    std::memset(&h, 0, sizeof h);
    h.fs_change = fs_change();
    return &h;
  }
  log_trace("none available handle\n");
  return nullptr;
}

// Whether p points at a time section of some driver-table entry.
bool is_time_section(const TimeSection* p) {
  for (int i = 0; i < kMaxDrivers; ++i) {
    const TimeSection* first = driver_slot(i)->sections;
    const auto a = reinterpret_cast<uintptr_t>(first);
    const auto q = reinterpret_cast<uintptr_t>(p);
    if (q >= a && q - a < sizeof(TimeSection) * kSectionsPerDriver &&
        (q - a) % sizeof(TimeSection) == 0)
      return true;
  }
  return false;
}

bool is_driver_entry(const DriverParam* p) {
  for (int i = 0; i < kMaxDrivers; ++i) {
    if (driver_slot(i) == p) return true;
  }
  return false;
}

}  // namespace

void clear_file_handles() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  std::memset(g_records, 0, sizeof g_records);
  g_cleared_at = driver_table_resets();
}

FILEHANDLE* file_handle_slot(int slot) {
  return slot >= 0 && slot < kMaxFileHandles ? &handles()[slot] : nullptr;
}

int check_handle(const FILEHANDLE* h, std::source_location where) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int32_t generation = fs_change();
  const int slot = slot_of(h);
  if (slot >= 0 && handles()[slot].fs_change == generation) return FS_OK;
  log_trace("INVALID HANDLE: %s,%u %d %d\n", where.file_name(), unsigned(where.line()),
            slot >= 0 ? handles()[slot].fs_change : -1, generation);
  return FS_INVALID_HANDLE;
}

int check_open_handle(const FILEHANDLE* h, std::source_location where) {
  if (const int r = check_handle(h, where); r != FS_OK) return r;
  if (h->file_flag != kFileFree) return FS_OK;
  log_trace("INVALID HANDLE: %s,%u closed\n", where.file_name(), unsigned(where.line()));
  return FS_INVALID_HANDLE;
}

FILEHANDLE* alloc_handle(int purpose, int type) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (purpose == kPurposeCreate && !work_driver(type)) {
    log_trace("none available work driver\n");
    return nullptr;
  }
  return take_free_record();
}

FILEHANDLE* alloc_adapter_handle() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return take_free_record();
}

void release_handle(FILEHANDLE& h) { h.file_flag = kFileFree; }

std::string file_handles_check() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int32_t generation = fs_change();
  for (int i = 0; i < kMaxFileHandles; ++i) {
    const FILEHANDLE& h = handles()[i];
    const std::string at = " (slot " + std::to_string(i) + ")";
    if (h.file_flag > kFileReadingAlt) return "1: unknown file_flag" + at;
    if (h.file_flag == kFileFree || h.fs_change != generation) continue;
    if (h.pdp && !is_driver_entry(h.pdp)) return "4: pdp is not a driver-table entry" + at;
    if (h.cur_cluster != 0) {
      if (!h.pdp) return "4: positioned without a driver" + at;
      if (h.cur_cluster >= h.pdp->total_clus) return "4: cur_cluster past the data area" + at;
      if (h.clus_sectors > h.pdp->sector_per_clus) return "4: clus_sectors above the cluster" + at;
      if (h.cur_offset > h.clus_sectors) return "4: cur_offset past clus_sectors" + at;
    }
    if (h.sections && !is_time_section(h.sections)) return "5: sections is not a time section" + at;
  }
  return "";
}

int krt_file_open(FILEHANDLE*& out, uint8_t mode, int alternate) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("krt_file_open()\n");
  out = nullptr;
  FILEHANDLE* h = alloc_handle(kPurposeRead, 0);
  if (!h) {
    log_warn("cannot open a recording: all 256 file handles are in use\n");
    return FS_NO_HANDLE;
  }
  h->file_flag = alternate ? kFileReadingAlt : kFileReading;
  for (int i = 0; i < kMaxDrivers && !h->pdp; ++i) {
    if (driver_in_use(*driver_slot(i))) h->pdp = driver_slot(i);
  }
  if (!h->pdp) {
    release_handle(*h);
    return FS_NO_HANDLE;
  }
  h->mode = mode;
  h->end_cluster = h->end_offset = 0;
  h->kind = kHandleRecording;
  h->open_tick = tick_count();
  out = h;
  return FS_OK;
}

int fs_file_set_mode(FILEHANDLE* h, uint8_t mode) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("fs_file_set_mode()\n");
  if (const int r = check_open_handle(h); r != FS_OK) return r;
  h->mode = mode;
  return FS_OK;
}

}  // namespace krt
