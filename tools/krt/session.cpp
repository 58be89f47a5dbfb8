#include "session.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "krt/volume.h"

int fail(const std::string& message) {
  std::fprintf(stderr, "krt: %s\n", message.c_str());
  return kExitFailed;
}

int usage_error(const char* command, const std::string& message) {
  std::fprintf(stderr, "krt: %s\nRun 'krt %s --help' for its usage.\n", message.c_str(), command);
  return kExitUsage;
}

bool bring_up_volume() {
  krt::volume_startup();
  if (krt::get_disk_info(nullptr) > 0) return true;
  fail("no recorder disk found");
  return false;
}

bool require_mounted_partition() {
  {
    std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
    for (int i = 0; i < krt::kMaxDrivers; ++i) {
      if (krt::driver_in_use(*krt::driver_slot(i))) return true;
    }
  }
  fail("no partition could be mounted (krt info says why)");
  return false;
}

namespace {

int64_t g_all_disks_offset = 0;              // --clock-offset ±HH:MM:SS
std::map<int, int64_t> g_disk_offsets;       // --clock-offset D=±HH:MM:SS

}  // namespace

void set_clock_offset(int disk, int64_t seconds) {
  if (disk < 0) g_all_disks_offset = seconds;
  else g_disk_offsets[disk] = seconds;
}

int64_t clock_offset_of(int disk) {
  const auto it = g_disk_offsets.find(disk);
  return it != g_disk_offsets.end() ? it->second : g_all_disks_offset;
}
