// The formatter's placement of the areas of a partition.
#include <algorithm>

#include "krt_testing/image_builder.h"

namespace krt_testing {
namespace {

constexpr uint64_t kItemsPerUnit = 49152;      // directory items (and index bytes) per unit A
constexpr uint32_t kDirSectorsPerUnit = 3072;  // 49,152 items of 32 bytes
constexpr uint32_t kIndexSectorsPerUnit = 96;  // 49,152 bytes
constexpr uint32_t kDirGap = 256;              // second copy = dir_size + 256
constexpr uint32_t kDataAlign = 256;
constexpr uint64_t kMaxReserve = 262144;       // sectors
constexpr uint32_t kUdOffset = 40960;          // user-data area inside the reserved clusters
constexpr uint32_t kReserveASize = 16384;         // sub-area A, present when the reserve exceeds it
constexpr uint32_t kReserveBAfter = 40960;        // sub-area B is present when the reserve exceeds this
constexpr uint32_t kReserveBOffset = 20480;
constexpr uint32_t kReserveBSize = 20480;

}  // namespace

Layout format_layout(uint64_t sectors, uint32_t sector_per_clus, const LayoutOverrides& o) {
  Layout l;
  l.sector_per_clus = sector_per_clus;
  if (sector_per_clus == 0) return l;
  const uint64_t n = sectors / sector_per_clus;
  const uint32_t units = uint32_t((n + kItemsPerUnit - 1) / kItemsPerUnit);
  l.dir_size = o.dir_size.value_or(units * kDirSectorsPerUnit);
  l.index_size = o.index_size.value_or(units * kIndexSectorsPerUnit);
  l.second_dir = o.second_dir.value_or(l.dir_size + kDirGap);
  l.index_off = o.index_off.value_or(l.second_dir + l.dir_size);
  const uint32_t index_end = (o.index_off && *o.index_off == 0)
                                 ? l.second_dir + l.dir_size + l.index_size
                                 : l.index_off + l.index_size;
  l.data_off = o.data_off.value_or((index_end + kDataAlign - 1) / kDataAlign * kDataAlign);
  const uint64_t data_sectors = sectors > l.data_off ? sectors - l.data_off : 0;
  l.total_clus = o.total_clus.value_or(uint32_t(data_sectors / sector_per_clus));
  l.rev_clus = o.rev_clus.value_or(uint32_t(std::min(sectors / 50, kMaxReserve) / sector_per_clus));
  l.ud_start = o.ud_start.value_or(l.data_off + kUdOffset);
  const uint64_t reserved = uint64_t(l.rev_clus) * sector_per_clus;
  if (reserved > kReserveASize) {
    l.reserve_a_start = l.data_off;
    l.reserve_a_size = kReserveASize;
  }
  if (reserved > kReserveBAfter) {
    l.reserve_b_start = l.data_off + kReserveBOffset;
    l.reserve_b_size = kReserveBSize;
  }
  return l;
}

}  // namespace krt_testing
