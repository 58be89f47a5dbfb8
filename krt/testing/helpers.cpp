// Shorthands for common disk descriptions.
#include <algorithm>

#include "krt_testing/image_builder.h"

namespace krt_testing {

std::vector<uint8_t> channel_range(uint8_t first, uint8_t last) {
  std::vector<uint8_t> channels;
  for (int c = first; c <= last; ++c) channels.push_back(uint8_t(c));
  return channels;
}

std::vector<File> recordings(const std::vector<uint8_t>& channels, uint32_t from, uint32_t to,
                             uint32_t file_seconds, const File& model) {
  std::vector<File> files;
  if (file_seconds == 0) return files;
  const int64_t begin = seconds_since_2000(from), end = seconds_since_2000(to);
  for (int64_t t = begin; t < end; t += file_seconds) {
    for (uint8_t channel : channels) {
      File f = model;
      f.channel = channel;
      f.start = time_from_seconds(t);
      f.end = time_from_seconds(std::min<int64_t>(t + file_seconds, end));
      files.push_back(f);
    }
  }
  return files;
}

std::vector<File> day_of_files(const std::vector<uint8_t>& channels, int year, int month, int day,
                               uint32_t file_seconds, const File& model) {
  const uint32_t from = pack_time(year, month, day, 0, 0, 0);
  return recordings(channels, from, add_seconds(from, 86400), file_seconds, model);
}

Disk single_partition_disk(uint64_t sectors, uint32_t sector_per_clus) {
  return multi_partition_disk({sectors}, sector_per_clus);
}

Disk multi_partition_disk(const std::vector<uint64_t>& sizes, uint32_t sector_per_clus) {
  Disk disk;
  uint64_t start = 0;
  for (size_t i = 0; i < sizes.size() && i < 4; ++i) {
    Partition p;
    p.slot = int(i);
    p.start = start;
    p.sectors = sizes[i];
    p.sector_per_clus = sector_per_clus;
    disk.partitions.push_back(p);
    start += sizes[i];
  }
  disk.sectors = start;
  return disk;
}

}  // namespace krt_testing
