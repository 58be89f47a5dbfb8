// JSON text helpers: the `krt` tool's --json output and the export's manifest.json.
#pragma once

#include <cstdint>
#include <string>

// The string s as a JSON string literal, quotes included, with control characters escaped.
std::string json_quote(const std::string& s);

// A packed time as a JSON string "YYYY-MM-DDTHH:MM:SS" (the recorder's wall clock, no zone);
// null for the time 0.
std::string json_time(uint32_t packed);
