// The format settings and FormatTime.
//
// The three settings are packed into one atomic word, so SetTimeFormat changes them together
// and a FormatTime on another thread sees either the old or the new three, never a mix.
#include <atomic>
#include <cstdio>

#include "infra/datetime.h"

namespace infra {
namespace {

constexpr uint32_t kNoOrder = 3;  // a date order other than 0-2: date forms write nothing

struct Settings {
  uint32_t order;  // 0 Y-M-D, 1 M-D-Y, 2 D-M-Y, kNoOrder
  bool hour12;     // 12-hour clock with "AM"/"PM"
  char sep;        // date separator
};

uint32_t Pack(int order, int hourMode, int separator) {
  const uint32_t o = order >= 0 && order <= 2 ? static_cast<uint32_t>(order) : kNoOrder;
  const char sep = separator == 0 ? '.' : separator == 2 ? '/' : '-';
  return o | (hourMode == 1 ? 4u : 0u) | static_cast<uint32_t>(static_cast<unsigned char>(sep)) << 8;
}

std::atomic<uint32_t> g_settings{Pack(0, 0, 58)};

Settings Load() {
  const uint32_t v = g_settings.load(std::memory_order_relaxed);
  return {v & 3, (v & 4) != 0, static_cast<char>(v >> 8)};
}

enum class Form { TimeOnly, ShortYear, Compact, DateOnly, Full };

Form PickForm(int flags) {
  if (flags & kFmtTimeOnly) return Form::TimeOnly;
  if (flags & kFmtShortYear) return Form::ShortYear;
  if (flags & kFmtCompact) return Form::Compact;
  if (flags & kFmtDateOnly) return Form::DateOnly;
  return Form::Full;
}

// The date in the set order; sep 0 writes no separators.
std::string DateText(const DateTime &t, uint32_t order, char sep, bool shortYear) {
  char year[16], month[16], day[16];
  std::snprintf(year, sizeof year, shortYear ? "%02d" : "%04d", shortYear ? t.m_nYear - 2000 : t.m_nYear);
  std::snprintf(month, sizeof month, "%02d", t.m_nMonth);
  std::snprintf(day, sizeof day, "%02d", t.m_nDay);
  const char *parts[3][3] = {{year, month, day}, {month, day, year}, {day, month, year}};
  std::string text = parts[order][0];
  for (int i = 1; i < 3; ++i) {
    if (sep) text += sep;
    text += parts[order][i];
  }
  return text;
}

// The clock time; compact writes no colons.
std::string TimeText(const DateTime &t, bool hour12, bool compact) {
  char text[48];
  std::snprintf(text, sizeof text, compact ? "%02d%02d%02d" : "%02d:%02d:%02d",
                hour12 ? To12Hour(t.m_nHour) : t.m_nHour, t.m_nMinute, t.m_nSecond);
  return text;
}

}  // namespace

void SetTimeFormat(int order, int hourMode, int separator) {
  g_settings.store(Pack(order, hourMode, separator), std::memory_order_relaxed);
}

std::string FormatTime(const DateTime &t, int flags) {
  const Settings s = Load();
  const Form form = PickForm(flags);
  if (form != Form::TimeOnly && s.order == kNoOrder) return "";
  std::string text;
  switch (form) {
    case Form::TimeOnly:
      text = TimeText(t, s.hour12, false);
      break;
    case Form::ShortYear:
      text = DateText(t, s.order, s.sep, true) + " " + TimeText(t, s.hour12, false);
      break;
    case Form::Compact:
      text = DateText(t, s.order, 0, false) + TimeText(t, s.hour12, true);
      break;
    case Form::DateOnly:
      text = DateText(t, s.order, s.sep, false);
      break;
    case Form::Full:
      text = DateText(t, s.order, s.sep, false) + " " + TimeText(t, s.hour12, false);
      break;
  }
  // Drops the seconds: ":ss", or "ss" of the compact form; a date alone has none.
  if ((flags & kFmtNoSeconds) && form != Form::DateOnly) {
    const size_t drop = form == Form::Compact ? 2 : 3;
    if (text.size() >= drop) text.erase(text.size() - drop);
  }
  if (s.hour12 && !(flags & kFmtDateOnly)) text += IsPM(t.m_nHour) ? "PM" : "AM";
  return text;
}

std::string FormatTime(PackedTime p, int flags) { return FormatTime(FromPackedTime(p), flags); }

}  // namespace infra
