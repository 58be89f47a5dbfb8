#include "wall_clock.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "krt/packed_time.h"

bool set_time_zone(const std::string& zone) {
  std::string tz;
  int hours = 0, minutes = 0;
  char sign = 0, end = 0;
  if (std::sscanf(zone.c_str(), "%c%2d:%2d%c", &sign, &hours, &minutes, &end) == 3 &&
      (sign == '+' || sign == '-') && zone.size() == 6 && hours <= 14 && minutes < 60) {
    // POSIX counts the offset westwards: UTC+01:00 is "<+0100>-01:00".
    const std::string hhmm = zone.substr(1);
    tz = std::string("<") + sign + zone.substr(1, 2) + zone.substr(4, 2) + ">" + (sign == '+' ? "-" : "+") + hhmm;
  } else {
    const char* dir = std::getenv("TZDIR");
    const std::filesystem::path base = dir && *dir ? dir : "/usr/share/zoneinfo";
    std::error_code ec;
    if (zone.empty() || zone.front() == '/' || zone.find("..") != std::string::npos ||
        !std::filesystem::is_regular_file(base / zone, ec))
      return false;
    tz = zone;
  }
  ::setenv("TZ", tz.c_str(), 1);
  ::tzset();
  return true;
}

std::time_t local_time_of(uint32_t packed) {
  if (packed == 0) return 0;
  const std::time_t as_utc = krt::time_to_time_t(packed);
  struct tm fields {};
  gmtime_r(&as_utc, &fields);
  fields.tm_isdst = -1;
  return mktime(&fields);
}
