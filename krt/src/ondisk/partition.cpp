// Version check and partition table, through the sector cache.
#include "krt/partition.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "krt/cache.h"
#include "krt/endian.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/result.h"

namespace krt {
namespace {

bool overlap(const Partition& a, const Partition& b) {
  return a.size != 0 && b.size != 0 && a.start < b.start + b.size && b.start < a.start + a.size;
}

size_t entry_field(int i, size_t field) {
  return offsetof(PartitionTableDisk, entry) + size_t(i) * sizeof(PartitionEntryDisk) + field;
}

}  // namespace

int check_disk_ver(int disk, int& result) {
  HeldBuf table(bread(disk, kPartitionTableSector));
  if (!table) {
    log_info("check_disk_ver bread fail\n");
    return FS_IO_ERROR;
  }
  HeldBuf version(bread(disk, kVersionSector));
  result = version && is_version_04(version->data) ? kVersion04 : kVersionOther;
  if (version && result != kVersion04) {
    log_info("check_disk_ver no match: ver %.7s, flg %c %c\n", reinterpret_cast<const char*>(version->data),
             version->data[510], version->data[511]);
  }
  return FS_OK;
}

int krt_read_partitions(int disk, Partition* out, int count) {
  int version = 0;
  if (check_disk_ver(disk, version) != FS_OK) {
    log_info("krt_read_partitions check_disk_ver fail\n");
    return 1;
  }
  if (version != kVersion04) {
    log_info("krt_read_partitions ver no match\n");
    return 1;
  }
  HeldBuf table(bread(disk, kPartitionTableSector));
  if (!table) {
    log_info("krt_read_partitions bread fail\n");
    return FS_IO_ERROR;
  }
  decode_partition_table(table->data, out, count);
  return FS_OK;
}

int krt_write_partitions(int disk, const Partition* in, int count) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const int n = std::clamp(count, 0, kMaxPartitions);
  HeldBuf table(bread(disk, kPartitionTableSector));
  if (!table) return FS_IO_ERROR;
  int version = 0;
  const bool fresh = check_disk_ver(disk, version) != FS_OK || version != kVersion04;
  // Refuse before touching the sector, so that a refusal leaves the cached table intact.
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (j != i && overlap(in[i], in[j])) {
        log_warn("krt_write_partitions, partition range overlaped.\n");
        return 1;
      }
    }
  }
  uint8_t* t = table->data;
  if (fresh) {
    std::memset(t, 0, sizeof(PartitionTableDisk));
    write_partition_table_header(t);
  }
  for (int i = 0; i < kMaxPartitions; ++i) {
    const Partition p = i < n ? in[i] : Partition{0, 0};
    st64(t + entry_field(i, offsetof(PartitionEntryDisk, start)), p.start);
    st64(t + entry_field(i, offsetof(PartitionEntryDisk, size)), p.size);
    if (i >= n) continue;
    st32(t + entry_field(i, offsetof(PartitionEntryDisk, legacy_param)), kTempOff);
    st32(t + entry_field(i, offsetof(PartitionEntryDisk, in_use)), 1);
  }
  bdirty(table.get());
  if (bwrite(table.get()) != 0) return FS_IO_ERROR;
  if (!fresh) return FS_OK;
  HeldBuf version_block(bread(disk, kVersionSector));
  if (!version_block) return FS_IO_ERROR;
  write_version_block(version_block->data);
  bdirty(version_block.get());
  return bwrite(version_block.get()) != 0 ? FS_IO_ERROR : FS_OK;
}

}  // namespace krt
