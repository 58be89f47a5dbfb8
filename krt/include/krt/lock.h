// The one lock of the KRT file-system library.
//
// The library keeps its state in fixed process-wide tables (disks, sector cache, drivers,
// file handles). One recursive mutex serialises every access to them: the sector cache and
// the direct disk transfers take it themselves, and the layers above (volume start-up, the
// "/mnt" adapter) hold it across whole operations. It is recursive so that a layer holding it
// can call down into the cache. Nothing that holds it waits for a user-interface event.
#pragma once

#include <mutex>

namespace krt {

// Returns the process-wide library lock. Never fails; the mutex lives until the process ends.
std::recursive_mutex& library_lock();

}  // namespace krt
