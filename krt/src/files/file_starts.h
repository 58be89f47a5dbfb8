// The walk over the file starts of a partition, in cluster order, that both calendars use.
#pragma once

#include <cstdint>
#include <functional>

#include "krt/dir_index.h"
#include "krt/driver.h"

namespace krt {

// Calls visit(cluster, item) for each file start (index flag 1 or 2, any channel) of the
// partition whose directory item can be read: first the current lap after cluster `from` up to
// current_cluster, then the older lap from start_cluster2 (that cluster included) up to
// end_cluster2. Clusters rise strictly within each part, so the walk always ends; it stops
// early when an index sector cannot be read. The caller holds library_lock().
void for_each_file_start(const DriverParam& pdp, uint32_t from,
                         const std::function<void(uint32_t cluster, const DirItem& item)>& visit);

}  // namespace krt
