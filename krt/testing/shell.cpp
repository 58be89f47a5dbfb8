// Running a shell command from a test (see shell.h).
#include "krt_testing/shell.h"

#include <cstdio>

namespace krt_testing {

std::string shell_output(const std::string& command, bool* succeeded) {
  std::string out;
  if (succeeded) *succeeded = false;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const bool ok = ::pclose(pipe) == 0;
  if (succeeded) *succeeded = ok;
  return out;
}

}  // namespace krt_testing
