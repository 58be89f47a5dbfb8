#include "catalog/text.h"

std::string concat(std::initializer_list<std::string_view> pieces) {
  size_t size = 0;
  for (std::string_view p : pieces) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : pieces) out += p;
  return out;
}

std::string utc_text(std::time_t t, const char* format) {
  struct tm fields {};
  gmtime_r(&t, &fields);
  char text[64];
  return std::strftime(text, sizeof text, format, &fields) ? text : "";
}
