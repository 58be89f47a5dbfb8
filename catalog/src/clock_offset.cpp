// The recorder's clock offset as text (see clock_offset.h).
#include "catalog/clock_offset.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Reads exactly two decimal digits at text[at]. Returns -1 when they are not there.
int two_digits(std::string_view text, size_t at) {
  if (at + 2 > text.size()) return -1;
  const char a = text[at], b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

}  // namespace

std::optional<int64_t> parse_clock_offset(std::string_view text) {
  int sign = 1;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    sign = text[0] == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  const int h = two_digits(text, 0), m = two_digits(text, 3), s = two_digits(text, 6);
  if (h < 0 || m < 0 || m > 59 || s < 0 || s > 59) return std::nullopt;
  const int64_t seconds = int64_t(h) * 3600 + m * 60 + s;
  if (seconds > kMaxClockOffset) return std::nullopt;
  return sign * seconds;
}

std::string format_clock_offset(int64_t seconds) {
  const int64_t a = std::llabs(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%c%02lld:%02lld:%02lld", seconds < 0 ? '-' : '+', static_cast<long long>(a / 3600),
                static_cast<long long>(a / 60 % 60), static_cast<long long>(a % 60));
  return text;
}
