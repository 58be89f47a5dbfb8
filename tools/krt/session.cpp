#include "session.h"

#include <cstdio>

#include "krt/disk.h"
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
