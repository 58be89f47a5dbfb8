// Search patterns: the folder part, and matching a name against the rest.
#pragma once

#include <string_view>

namespace vfs_detail {

// The folder part of pattern: up to and including its last "/"; "" when it has none.
std::string_view PatternRoot(std::string_view pattern);

// True when name matches the wildcard pattern: "*" is any run of characters (a leading "."
// included), "?" any one character, every other character stands for itself (so "[" and "]"
// of recording names are plain characters). Case counts. An empty pattern matches nothing.
bool MatchName(std::string_view pattern, const char* name);

}  // namespace vfs_detail
