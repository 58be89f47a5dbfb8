#include "wall_clock.h"

#include "krt/packed_time.h"

std::time_t local_time_of(uint32_t packed) {
  if (packed == 0) return 0;
  const std::time_t as_utc = krt::time_to_time_t(packed);
  struct tm fields {};
  gmtime_r(&as_utc, &fields);
  fields.tm_isdst = -1;
  return mktime(&fields);
}
