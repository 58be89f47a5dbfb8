// JSON text helpers for the tool's --json output.
#pragma once

#include <string>

// The string s as a JSON string literal, quotes included, with control characters escaped.
std::string json_quote(const std::string& s);
