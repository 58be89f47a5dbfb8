// The demo disk shown by `./run`.
#include "krt_testing/demo_disk.h"

namespace krt_testing {
namespace {

// The size of a partition whose recording clusters (after the reserved ones) number at least
// `clusters`, with P sectors per cluster. The reserve grows with the size, so a few rounds settle it.
uint64_t partition_for(uint32_t clusters, uint32_t P) {
  uint64_t sectors = uint64_t(clusters) * P;
  for (int round = 0; round < 8; ++round) {
    const Layout l = format_layout(sectors, P);
    if (l.total_clus >= l.rev_clus + clusters) break;
    sectors += uint64_t(l.rev_clus + clusters - l.total_clus) * P + l.data_off;
  }
  return sectors;
}

void append(std::vector<File>& to, const std::vector<File>& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace

Disk demo_disk(const std::string& stream_path) {
  // Partition 0: 64 sectors per cluster, channels 0-3 in 30-minute files of two clusters. Three days
  // fill it (1,152 clusters); the current lap has come round and covers a day and a half.
  Partition p0;
  p0.slot = 0;
  p0.sector_per_clus = 64;
  p0.seconds_per_cluster = 900;
  p0.sectors = partition_for(1152 + 16, p0.sector_per_clus);
  p0.older_lap = recordings(channel_range(0, 3), pack_time(2010, 3, 1, 0, 0, 0), pack_time(2010, 3, 4, 0, 0, 0), 1800);
  p0.files = recordings(channel_range(0, 3), pack_time(2010, 3, 4, 0, 0, 0), pack_time(2010, 3, 5, 12, 0, 0), 1800);
  File midnight;
  midnight.channel = 4;
  midnight.start = pack_time(2010, 3, 4, 23, 45, 0);
  midnight.end = pack_time(2010, 3, 5, 0, 30, 0);
  p0.files.push_back(midnight);

  // Partition 1: 32 sectors per cluster, channels 4-7 for two days, 30-minute files of three
  // clusters; channel 5's files open with a two-sector "DHII" header.
  Partition p1;
  p1.slot = 1;
  p1.start = p0.sectors;
  p1.sector_per_clus = 32;
  p1.seconds_per_cluster = 600;
  p1.sectors = partition_for(1152 + 200, p1.sector_per_clus);
  const uint32_t from = pack_time(2010, 3, 5, 0, 0, 0), to = pack_time(2010, 3, 7, 0, 0, 0);
  File with_header;
  with_header.header_sectors = 2;
  p1.files = recordings({4, 6, 7}, from, to, 1800);
  append(p1.files, recordings({5}, from, to, 1800, with_header));

  Disk disk;
  disk.partitions = {p0, p1};
  disk.sectors = p1.start + p1.sectors;
  if (!stream_path.empty()) disk.payload = Payload{Payload::Kind::kStream, stream_path};
  return disk;
}

}  // namespace krt_testing
