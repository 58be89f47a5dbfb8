// The library lock, the leaf locks and the lock-order check.
#include "krt/lock.h"

#include <cstdio>
#include <cstdlib>

namespace krt {
namespace {

#ifdef KRT_LOCK_ORDER_CHECK
constexpr bool kCheckOrder = true;
#else
constexpr bool kCheckOrder = false;
#endif

// Levelled locks the calling thread holds, counted per level (the library lock is not
// counted: it is the lowest level, so holding it never forbids anything).
constexpr int kLevels = int(LockLevel::kLog) + 1;
thread_local int t_held[kLevels] = {};

const char* level_name(int level) {
  switch (LockLevel(level)) {
    case LockLevel::kLibrary: return "the library lock";
    case LockLevel::kLeaf: return "a leaf lock";
    case LockLevel::kLog: return "the log mutex";
  }
  return "a lock";
}

// Aborts when the calling thread holds a levelled lock of a level at or above `above`; `taken`
// names the lock being taken.
void check_order(LockLevel taken, LockLevel above) {
  if (!kCheckOrder) return;
  for (int held = int(above); held < kLevels; ++held) {
    if (t_held[held] == 0) continue;
    std::fprintf(stderr, "lock order: %s taken while holding %s\n", level_name(int(taken)),
                 level_name(held));
    std::abort();
  }
}

void count_held(LockLevel level, int change) {
  if (kCheckOrder) t_held[int(level)] += change;
}

}  // namespace

std::recursive_mutex& library_lock() {
  // Re-entry is allowed, and every levelled lock lies above the library lock.
  check_order(LockLevel::kLibrary, LockLevel::kLeaf);
  static std::recursive_mutex lock;
  return lock;
}

void LevelledMutex::lock() {
  check_order(level_, level_);
  mutex_.lock();
  count_held(level_, 1);
}

bool LevelledMutex::try_lock() {
  check_order(level_, level_);
  if (!mutex_.try_lock()) return false;
  count_held(level_, 1);
  return true;
}

void LevelledMutex::unlock() {
  count_held(level_, -1);
  mutex_.unlock();
}

bool lock_order_checked() { return kCheckOrder; }

}  // namespace krt
