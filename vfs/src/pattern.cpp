// Search patterns: folder part and wildcard matching, on fnmatch(3) with "[" and "\" escaped
// so that only "*" and "?" act as wildcards.
#include "pattern.h"

#include <fnmatch.h>

#include <string>

namespace vfs_detail {

std::string_view PatternRoot(std::string_view pattern) {
  const size_t slash = pattern.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : pattern.substr(0, slash + 1);
}

bool MatchName(std::string_view pattern, const char* name) {
  if (pattern.empty()) return false;
  std::string escaped;
  escaped.reserve(pattern.size() * 2);
  for (char c : pattern) {
    if (c == '[' || c == '\\') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return fnmatch(escaped.c_str(), name, 0) == 0;
}

}  // namespace vfs_detail
