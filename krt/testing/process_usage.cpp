#include "krt_testing/process_usage.h"

#include <dirent.h>
#include <malloc.h>

#include <cstring>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KRT_SANITIZED_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KRT_SANITIZED_HEAP 1
#endif
#endif

#ifdef KRT_SANITIZED_HEAP
// The sanitizers' allocator keeps its own count (their header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace krt_testing {
namespace {

// Entries of a /proc/self folder, without "." and "..".
int count_entries(const char* folder) {
  DIR* d = ::opendir(folder);
  if (!d) return -1;
  int n = 0;
  while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
  ::closedir(d);
  return n - (std::strcmp(folder, "/proc/self/fd") == 0 ? 1 : 0);  // the folder's own descriptor
}

size_t live_heap_bytes() {
#ifdef KRT_SANITIZED_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

}  // namespace

ProcessUsage process_usage() {
  return {count_entries("/proc/self/fd"), count_entries("/proc/self/task"), live_heap_bytes()};
}

}  // namespace krt_testing
