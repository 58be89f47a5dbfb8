// Running a shell command from a test and keeping what it printed.
#pragma once

#include <string>

namespace krt_testing {

// Runs `command` with /bin/sh and returns its standard output. `succeeded`, when given, is set
// to whether the command ran and exited with status 0; the output is returned either way (empty
// when the command could not be started).
std::string shell_output(const std::string& command, bool* succeeded = nullptr);

}  // namespace krt_testing
