#include "session.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>

#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "krt/mount.h"
#include "krt/volume.h"

int fail(const std::string& message) {
  std::fprintf(stderr, "krt: %s\n", message.c_str());
  return kExitFailed;
}

int usage_error(const char* command, const std::string& message) {
  std::fprintf(stderr, "krt: %s\nRun 'krt %s --help' for its usage.\n", message.c_str(), command);
  return kExitUsage;
}

namespace {

// The start-up's progress line on a terminal: drawn once the start-up has taken a second.
std::chrono::steady_clock::time_point g_startup_began;
bool g_progress_drawn = false;

void draw_startup_progress(int disk, int percent) {
  if (std::chrono::steady_clock::now() - g_startup_began < std::chrono::seconds(1)) return;
  std::fprintf(stderr, "\rkrt: reading disk %d: %3d %%", disk, percent);
  std::fflush(stderr);
  g_progress_drawn = true;
}

}  // namespace

bool bring_up_volume() {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  g_startup_began = std::chrono::steady_clock::now();
  g_progress_drawn = false;
  if (terminal) krt::set_startup_progress(draw_startup_progress);
  krt::volume_startup();
  krt::set_startup_progress(nullptr);
  if (g_progress_drawn) std::fprintf(stderr, "\r\033[K");
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
