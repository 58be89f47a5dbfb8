// The recorder's clock offset: how far a recorder's clock was from the true time.
//
// Recorder clocks drift and are set by hand; an examiner compares the recorder's clock with a
// true one and gives the difference as recorder time minus true time, "+00:03:20" for a recorder
// 3 min 20 s ahead, "-01:00:00" for one an hour behind. Corrected time = recorder time - offset.
// The offset is kept to whole seconds and at most 24 hours either way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr int64_t kMaxClockOffset = 86400;  // seconds, either way

// Parses "+HH:MM:SS" or "-HH:MM:SS" (the sign may be left out for a positive offset; minutes
// and seconds 0..59). Returns the offset in seconds; nothing when text does not have that form
// or lies beyond 24 hours.
std::optional<int64_t> parse_clock_offset(std::string_view text);

// The offset as "+HH:MM:SS" / "-HH:MM:SS" (zero is "+00:00:00").
std::string format_clock_offset(int64_t seconds);
