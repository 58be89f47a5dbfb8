// How much of a recording a read can really reach, checked without a handle-table record.
#include <algorithm>

#include "file_internal.h"
#include "krt/dir_index.h"

namespace krt {

int readable_sectors(DriverParam* pdp, uint32_t c, uint8_t channel, uint64_t wanted, uint64_t& sectors) {
  FILEHANDLE h{};
  h.pdp = pdp;
  h.file_flag = kFileReading;
  sectors = 0;
  if (const int r = load_cluster(h, c); r != FS_OK) return r;
  if (h.first_cluster != c || h.channel != channel) return FS_NO_EXIST_FILE;
  uint64_t reached = h.clus_sectors;
  // A cluster with a next one counts whole (sector_per_clus > 0), so the loop ends.
  while (reached < wanted && has_down_cluster(h.cur_dir_info) && step_to_next_cluster(h) == FS_OK)
    reached += h.clus_sectors;
  sectors = std::min(reached, wanted);
  return FS_OK;
}

}  // namespace krt
