// The "DHII" header at the start of some recordings.
//
// A recording may begin with a header of whole sectors whose first sector starts with the four
// bytes "DHII" followed by the header's length in bytes (uint32, little-endian). The adapter
// hides it: callers see the file from the first byte after it. Its length in sectors is kept
// in hdr_sectors of the file's first directory item, 0 meaning "not looked at yet"; the first
// open that finds a header stores it there (in the sector cache: the disk is never changed).
#include <algorithm>
#include <cstring>
#include <mutex>

#include "adapt_internal.h"
#include "krt/disk.h"
#include "krt/disk_io.h"
#include "krt/endian.h"
#include "krt/adapter.h"
#include "krt/dir_index.h"
#include "krt/driver.h"
#include "krt/lock.h"

namespace krt::adapt {
namespace {

constexpr char kHeaderMagic[4] = {'D', 'H', 'I', 'I'};

// Reads the first sector of the file whose first cluster is c and returns its header length
// in sectors (capped to the 16-bit field), or 0 when it has none or cannot be read.
uint16_t read_header_sectors(const DriverParam& pdp, uint32_t c) {
  uint8_t sector[kSectorBytes];
  const uint64_t at = pdp.start_sector + pdp.data_off + uint64_t(c) * pdp.sector_per_clus;
  if (disk_io_read(pdp.dev, 1, at, sector) != 0) return 0;
  if (std::memcmp(sector, kHeaderMagic, sizeof kHeaderMagic) != 0) return 0;
  return uint16_t(std::min<uint32_t>(ld32(sector + 4) / kSectorBytes, 0xFFFF));
}

}  // namespace

uint16_t header_sectors(const DriverParam& pdp, uint32_t c, const DirItem& item) {
  return item.hdr_sectors != 0 ? item.hdr_sectors : read_header_sectors(pdp, c);
}

uint16_t check_header(FILEHANDLE* h) {
  DirItem& item = h->cur_dir_info;
  if (item.hdr_sectors != 0) return item.hdr_sectors;
  const uint16_t sectors = read_header_sectors(*h->pdp, h->cur_cluster);
  if (sectors != 0) {
    item.hdr_sectors = sectors;
    set_dir_item_info(*h->pdp, h->cur_cluster, item, true);
  }
  return sectors;
}

}  // namespace krt::adapt

namespace krt {

uint32_t recording_header_bytes(int disk, int part, uint32_t first_cluster) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const DriverParam* pdp = get_pdp(disk, part);
  DirItem item{};
  if (!pdp || first_cluster >= pdp->total_clus || get_dir_item_info(*pdp, first_cluster, item) != 0) return 0;
  return uint32_t(adapt::header_sectors(*pdp, first_cluster, item)) * kSectorBytes;
}

}  // namespace krt
