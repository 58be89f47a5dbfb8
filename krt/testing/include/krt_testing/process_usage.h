// What a process holds at a moment: open descriptors, threads and live heap bytes. Long-run
// tests take it before and after many rounds of work and check that nothing grew.
#pragma once

#include <cstddef>

namespace krt_testing {

struct ProcessUsage {
  int descriptors;  // entries of /proc/self/fd (without the one used to count them)
  int threads;      // entries of /proc/self/task
  size_t heap;      // bytes allocated and not yet freed (the sanitizer's count under ASan or
                    // TSan, glibc's mallinfo2 otherwise)
};

// The process's usage now.
ProcessUsage process_usage();

}  // namespace krt_testing
