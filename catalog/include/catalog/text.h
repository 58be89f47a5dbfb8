// Building message and path texts.
#pragma once

#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>

// The pieces joined into one string, in order.
std::string concat(std::initializer_list<std::string_view> pieces);

// Seconds since 1970 as strftime writes them with format in UTC (gmtime): for the recorder's
// clock counted as UTC this gives the clock's own fields back.
std::string utc_text(std::time_t t, const char* format);
