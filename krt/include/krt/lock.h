// The locks of the KRT file-system library and the order in which they are taken.
//
// The library keeps its state in fixed process-wide tables (disks, sector cache, drivers,
// file handles). One recursive mutex, the library lock, serialises every access to them: the
// sector cache and the direct disk transfers take it themselves, and the layers above (volume
// start-up, the "/mnt" adapter) hold it across whole operations. It is recursive so that a
// layer holding it can call down into the cache. Nothing that holds it waits for a
// user-interface event.
//
// Besides it the library has three leaf locks, each guarding a few words of its own: the
// adapter's enter and leave hooks, the list of image-source openers and the log. Every lock
// has a level (LockLevel); a thread takes locks in rising level only, so the library lock
// comes first and the log last, and nothing is taken while the log's mutex is held.
//
// The order check. In builds with the check (debug and sanitizer builds; see
// lock_order_checked), every acquisition asserts the order: a thread that takes a lock while
// it holds one of the same or a higher level -- other than re-entering the library lock --
// prints "lock order: ..." to standard error and aborts. library_lock() is the acquisition
// point of the library lock: call it at each acquisition rather than keeping the reference.
#pragma once

#include <mutex>

namespace krt {

// Lock levels, from the outermost. Locks of one level never nest.
enum class LockLevel : int {
  kLibrary = 1,  // library_lock()
  kLeaf = 2,     // the adapter hooks' lock, the image-source openers' lock
  kLog = 3,      // the log's mutex: taken last, under any other
};

// Returns the process-wide library lock. Never fails; the mutex lives until the process ends.
// With the order check, aborts when the calling thread holds a lock of a higher level.
std::recursive_mutex& library_lock();

// A mutex (not recursive) with a level, for the library's leaf locks. Meets the standard
// Lockable requirements, so std::lock_guard and std::unique_lock take it.
class LevelledMutex {
 public:
  explicit constexpr LevelledMutex(LockLevel level) : level_(level) {}
  LevelledMutex(const LevelledMutex&) = delete;
  LevelledMutex& operator=(const LevelledMutex&) = delete;

  // Takes the mutex. With the order check, aborts first when the calling thread already holds
  // a lock of this level or a higher one (this mutex included).
  void lock();
  // Takes the mutex when it is free (the order is checked as by lock); returns whether it did.
  bool try_lock();
  // Releases the mutex, which the calling thread holds.
  void unlock();

 private:
  std::mutex mutex_;
  LockLevel level_;
};

// Whether this build checks the lock order (debug and sanitizer builds; not release builds).
bool lock_order_checked();

}  // namespace krt
