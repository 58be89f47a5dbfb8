// The library lock.
#include "krt/lock.h"

namespace krt {

std::recursive_mutex& library_lock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace krt
