#include "catalog/json.h"

#include <cstdio>

#include "krt/packed_time.h"

std::string json_quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string json_time(uint32_t packed) {
  if (packed == 0) return "null";
  const krt::TimeFields t = krt::unpack_time(packed);
  char text[40];
  std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}
