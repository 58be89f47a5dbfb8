// The walk over the file starts of a partition.
//
// The index search with limit 0 stays inside the lap part that holds its starting cluster:
// [rev_clus, current_cluster] for the current lap, [current_cluster + 1, end_cluster2] for the
// older one. The walk runs through the first and then jumps once to start_cluster2. The search
// never looks at its starting cluster, so start_cluster2 itself -- the first cluster of the
// older lap, often the start of its oldest whole file -- is checked on its own before the jump.
#include "file_starts.h"

#include "krt/result.h"

namespace krt {
namespace {

bool is_file_start_byte(uint8_t b) {
  return index_flag(b) == kIndexFlagFirst || index_flag(b) == kIndexFlagContinued;
}

void visit_item(const DriverParam& pdp, uint32_t c,
                const std::function<void(uint32_t, const DirItem&)>& visit) {
  DirItem item{};
  if (get_dir_item_info(pdp, c, item) == FS_OK) visit(c, item);
}

}  // namespace

void for_each_file_start(const DriverParam& pdp, uint32_t from,
                         const std::function<void(uint32_t cluster, const DirItem& item)>& visit) {
  uint32_t c = from;
  bool older_lap = false;
  for (;;) {
    uint32_t found = 0;
    const int r = get_next_clus_no(pdp, kScanNextFileAny, c, 0, kAnyChannel, found);
    if (r == FS_OK && found > c) {
      c = found;
      visit_item(pdp, c, visit);
      continue;
    }
    if (r == FS_IO_ERROR || r == FS_NO_INDEX || older_lap || pdp.start_cluster2 == 0 ||
        c >= pdp.start_cluster2 || pdp.start_cluster2 <= pdp.current_cluster ||
        pdp.start_cluster2 >= pdp.total_clus)
      return;
    older_lap = true;
    c = pdp.start_cluster2;
    uint8_t b = 0;
    if (get_index_item_info(pdp, c, b) == FS_OK && is_file_start_byte(b)) visit_item(pdp, c, visit);
  }
}

}  // namespace krt
