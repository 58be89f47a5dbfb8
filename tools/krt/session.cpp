#include "session.h"

#include <cstdio>
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
