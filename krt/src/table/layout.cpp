// On-disk layout: version block, partition table decoding and the area arithmetic.
#include "krt/layout.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "krt/endian.h"

namespace krt {
namespace {

constexpr uint8_t kVersion04[7] = {'K', 'R', 'T', '0', '.', '4', 0};
constexpr uint8_t kVersion03[7] = {'K', 'R', 'T', '0', '.', '3', 0};

constexpr uint32_t kItemsPerDirUnit = 49152;   // directory items (and index bytes) per unit A
constexpr uint32_t kDirSectorsPerUnit = 3072;  // 49,152 items of 32 bytes
constexpr uint32_t kIndexSectorsPerUnit = 96;  // 49,152 index bytes
constexpr uint32_t kSecondDirGap = 256;        // second copy at dir_size + 256
constexpr uint32_t kDataAlign = 256;           // data_off is a multiple of 256
constexpr uint64_t kMaxReserve = 262144;       // reserved sectors at most
constexpr uint32_t kReserveA = 16384;          // sub-area A: data_off, 16,384 sectors
constexpr uint32_t kReserveBOffset = 20480;    // sub-area B: data_off + 20,480
constexpr uint32_t kReserveB = 20480;          //             20,480 sectors
constexpr uint32_t kReserveBThreshold = 40960; // B exists when the reserve exceeds this

size_t entry_at(int i, size_t field) {
  return offsetof(PartitionTableDisk, entry) + size_t(i) * sizeof(PartitionEntryDisk) + field;
}

}  // namespace

bool is_version_04(const uint8_t* sector0) {
  return std::memcmp(sector0, kVersion04, sizeof kVersion04) == 0 &&
         sector0[offsetof(VersionBlockDisk, sig_t)] == 'T' &&
         sector0[offsetof(VersionBlockDisk, sig_s)] == 'S';
}

bool is_version_03(const uint8_t* sector0) {
  return std::memcmp(sector0, kVersion03, sizeof kVersion03) == 0;
}

void write_version_block(uint8_t* sector0) {
  std::memset(sector0, 0, sizeof(VersionBlockDisk));
  std::memcpy(sector0, kVersion04, sizeof kVersion04);
  sector0[offsetof(VersionBlockDisk, sig_t)] = 'T';
  sector0[offsetof(VersionBlockDisk, sig_s)] = 'S';
}

int decode_partition_table(const uint8_t* sector, Partition* out, int count) {
  const int n = std::clamp(count, 0, kMaxPartitions);
  for (int i = 0; i < n; ++i) {
    out[i].start = ld64(sector + entry_at(i, offsetof(PartitionEntryDisk, start)));
    out[i].size = ld64(sector + entry_at(i, offsetof(PartitionEntryDisk, size)));
    const uint32_t in_use = ld32(sector + entry_at(i, offsetof(PartitionEntryDisk, in_use)));
    if (in_use == 0 || out[i].size != 0) continue;
    // Legacy entry: placed by the sector of its parameter block.
    const uint32_t param = ld32(sector + entry_at(i, offsetof(PartitionEntryDisk, legacy_param)));
    const uint32_t next_param =
        i + 1 < kMaxPartitions
            ? ld32(sector + entry_at(i + 1, offsetof(PartitionEntryDisk, legacy_param)))
            : 0;
    // A parameter sector below 24, or a next one that does not lie after it, cannot place a
    // partition: such an entry reads as empty instead of wrapping round to a huge range.
    const bool placed = param >= kTempOff;
    out[i].start = placed ? uint64_t(param) - kTempOff : 0;
    out[i].size = placed && next_param > param ? uint64_t(next_param) - param : 0;
  }
  return n;
}

void write_partition_table_header(uint8_t* sector) {
  std::memset(sector, 0, offsetof(PartitionTableDisk, entry));
  st32(sector + offsetof(PartitionTableDisk, word_36), 0);
  st32(sector + offsetof(PartitionTableDisk, word_40), 3);
  st32(sector + offsetof(PartitionTableDisk, magic), kParamMagic);
  st32(sector + offsetof(PartitionTableDisk, word_48), 3);
  st32(sector + offsetof(PartitionTableDisk, word_52), 1);
}

bool compute_layout(uint64_t sectors, uint32_t sector_per_clus, AreaLayout& out) {
  if (sector_per_clus == 0) return false;
  const uint64_t n = sectors / sector_per_clus;
  if (n > std::numeric_limits<uint32_t>::max()) return false;
  const uint64_t units = (n + kItemsPerDirUnit - 1) / kItemsPerDirUnit;
  AreaLayout l{};
  l.sector_per_clus = sector_per_clus;
  l.dir_size = uint32_t(units * kDirSectorsPerUnit);
  l.index_size = uint32_t(units * kIndexSectorsPerUnit);
  l.dir_off = kFirstDirStartSec;
  l.second_dir = l.dir_size + kSecondDirGap;
  l.index_off = l.second_dir + l.dir_size;
  l.data_off = (l.index_off + l.index_size + kDataAlign - 1) / kDataAlign * kDataAlign;
  if (sectors < l.data_off) return false;
  l.total_clus = uint32_t((sectors - l.data_off) / sector_per_clus);
  l.rev_clus = uint32_t(std::min(sectors / 50, kMaxReserve) / sector_per_clus);
  const uint64_t reserved = uint64_t(l.rev_clus) * sector_per_clus;
  if (reserved > kReserveA) {
    l.reserve_a_start = l.data_off;
    l.reserve_a_size = kReserveA;
  }
  if (reserved > kReserveBThreshold) {
    l.reserve_b_start = l.data_off + kReserveBOffset;
    l.reserve_b_size = kReserveB;
  }
  l.ud_start = l.data_off + kUdAreaOffset;
  out = l;
  return true;
}

}  // namespace krt
