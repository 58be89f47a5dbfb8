// The demo disk shown by `./run`: the day's recordings as data, and the disk that holds them.
#include "krt_testing/demo_disk.h"

#include <algorithm>
#include <cstdio>

namespace krt_testing {
namespace {

constexpr int kYear = 2024, kMonth = 3, kDay = 5;
constexpr uint32_t kPackSeconds = 15 * 60;
constexpr uint32_t kMainClusterSectors = 64;   // idea0: 32 KiB clusters
constexpr uint32_t kOtherClusterSectors = 32;  // idea1: 16 KiB clusters
constexpr uint32_t kSpareClusters = 16;        // idea0 is full: this little is left when it changes
// Padded GOP sizes, with room over what the encoder makes of the demo's nearly still pictures:
// 32 kbit/s for CIF, 64 kbit/s for D1, a recorder's lowest quality settings.
constexpr uint32_t kCifGopBytes = 8 * 1024;
constexpr uint32_t kD1GopBytes = 16 * 1024;
constexpr uint32_t kSoundGopBytes = 9 * 1024;  // MP2 at 32 kbit/s for two seconds, and its packets

uint32_t at(int hour, int minute, int second, int day = kDay) { return pack_time(kYear, kMonth, day, hour, minute, second); }

int64_t seconds(uint32_t t) { return seconds_since_2000(t); }

// Adds a continuous stretch of CIF recording on CH 01-04 from `from` to `to`, cut into pack
// periods, to `out`.
void add_stretch(std::vector<DemoRecording>& out, uint32_t from, uint32_t to, int partition, bool older,
                 uint32_t run = 0) {
  for (int64_t t = seconds(from); t < seconds(to); t += kPackSeconds) {
    for (uint8_t channel = 0; channel < 4; ++channel) {
      DemoRecording r;
      r.partition = partition;
      r.older_lap = older;
      r.channel = channel;
      r.start = time_from_seconds(t);
      r.end = time_from_seconds(std::min<int64_t>(t + kPackSeconds, seconds(to)));
      r.kind = 0;
      r.picture = DemoPicture::kCif;
      r.stream = DemoStream::kProgramStream;
      r.sound = channel < 2;
      r.header = channel == 0;
      r.run = run;
      out.push_back(r);
    }
  }
}

// Adds an event recording of `length` seconds on CH 05 (program stream) or CH 06 (raw H.264).
void add_event(std::vector<DemoRecording>& out, uint8_t channel, uint8_t kind, uint32_t start, uint32_t length,
               int partition, bool older = false, uint32_t run = 0) {
  DemoRecording r;
  r.partition = partition;
  r.older_lap = older;
  r.channel = channel;
  r.start = start;
  r.end = add_seconds(start, length);
  r.kind = kind;
  r.picture = DemoPicture::kD1;
  r.stream = channel == 5 ? DemoStream::kRawH264 : DemoStream::kProgramStream;
  r.run = run;
  out.push_back(r);
}

// Orders one lap's recordings as the recorder started them: run, time, channel.
void in_start_order(std::vector<DemoRecording>::iterator from, std::vector<DemoRecording>::iterator to) {
  std::stable_sort(from, to, [](const DemoRecording& a, const DemoRecording& b) {
    if (a.run != b.run) return a.run < b.run;
    if (a.start != b.start) return seconds(a.start) < seconds(b.start);
    return a.channel < b.channel;
  });
}

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

// The builder's file for a recording: its times, kind, run and size in clusters of P sectors.
File file_for(const DemoRecording& r, uint32_t P) {
  File f;
  f.channel = r.channel;
  f.start = r.start;
  f.end = r.end;
  f.type = r.kind;
  f.run = r.run;
  f.header_sectors = r.header ? kDemoHeaderSectors : 0;
  const uint64_t sectors = f.header_sectors + demo_stream_bytes(r) / kSectorBytes;
  f.clusters = uint32_t((sectors + P - 1) / P);
  f.end_length = uint16_t(sectors - uint64_t(f.clusters - 1) * P);
  return f;
}

uint32_t clusters_of(const std::vector<File>& files) {
  uint32_t n = 0;
  for (const File& f : files) n += f.clusters;
  return n;
}

}  // namespace

int demo_width(DemoPicture p) { return p == DemoPicture::kCif ? 352 : 704; }
int demo_height(DemoPicture p) { return p == DemoPicture::kCif ? 288 : 576; }
int demo_rate(DemoPicture p) { return p == DemoPicture::kCif ? 6 : 25; }

uint32_t demo_seconds(const DemoRecording& r) { return uint32_t(seconds(r.end) - seconds(r.start)); }

uint32_t demo_gop_bytes(const DemoRecording& r) {
  return (r.picture == DemoPicture::kCif ? kCifGopBytes : kD1GopBytes) + (r.sound ? kSoundGopBytes : 0);
}

uint64_t demo_stream_bytes(const DemoRecording& r) {
  return uint64_t(demo_seconds(r) / kDemoGopSeconds) * demo_gop_bytes(r);
}

DemoDay demo_day() {
  DemoDay d;
  d.pack_seconds = kPackSeconds;
  d.power_off = at(8, 45, 0);
  d.power_on = at(8, 50, 0);
  d.partition_change = at(9, 20, 0);
  d.clock_set_at = at(9, 35, 0);
  d.clock_set_to = at(9, 20, 0);
  return d;
}

std::vector<DemoRecording> demo_recordings(bool short_recordings) {
  const DemoDay d = demo_day();
  std::vector<DemoRecording> out;
  // idea0, until it is full.
  add_stretch(out, at(8, 0, 0), d.power_off, 0, false);
  add_stretch(out, d.power_on, d.partition_change, 0, false);
  add_event(out, 4, 2, at(8, 5, 10), 30, 0);
  add_event(out, 5, 1, at(8, 20, 0), 120, 0);
  add_event(out, 4, 2, at(8, 31, 6), 12, 0);
  add_event(out, 5, 2, at(9, 7, 30), 44, 0);
  in_start_order(out.begin(), out.end());
  // idea1: before and after the clock was set back.
  const size_t idea1 = out.size();
  add_stretch(out, d.partition_change, d.clock_set_at, 1, false);
  add_event(out, 4, 1, at(9, 26, 0), 60, 1);
  add_stretch(out, d.clock_set_to, at(9, 50, 0), 1, false, 1);
  add_event(out, 5, 2, at(9, 41, 20), 10, 1, false, 1);
  in_start_order(out.begin() + long(idea1), out.end());
  // idea1's older lap, the evening before.
  const size_t older = out.size();
  add_stretch(out, at(22, 37, 30, kDay - 1), at(0, 7, 30), 1, true);
  add_event(out, 4, 2, at(23, 50, 0, kDay - 1), 20, 1, true);
  in_start_order(out.begin() + long(older), out.end());
  if (short_recordings) {
    for (DemoRecording& r : out)
      r.end = add_seconds(r.start, std::min(demo_seconds(r), kDemoShortSeconds));
  }
  return out;
}

Disk demo_disk(const std::vector<std::shared_ptr<const std::vector<uint8_t>>>& payloads, bool short_recordings) {
  const std::vector<DemoRecording> recordings = demo_recordings(short_recordings);
  Partition parts[2];
  parts[0].sector_per_clus = kMainClusterSectors;
  parts[1].sector_per_clus = kOtherClusterSectors;
  for (size_t i = 0; i < recordings.size(); ++i) {
    const DemoRecording& r = recordings[i];
    Partition& p = parts[r.partition];
    File f = file_for(r, p.sector_per_clus);
    if (i < payloads.size())
      f.payload = payloads[i] ? Payload{Payload::Kind::kBytes, {}, payloads[i]} : Payload{Payload::Kind::kNone, {}, {}};
    (r.older_lap ? p.older_lap : p.files).push_back(std::move(f));
  }
  // idea0 is just full; idea1 holds its older lap, whose start the current lap wrote over.
  parts[0].sectors = partition_for(clusters_of(parts[0].files) + kSpareClusters, kMainClusterSectors);
  parts[1].sectors = partition_for(std::max(clusters_of(parts[1].older_lap), clusters_of(parts[1].files)) + kSpareClusters,
                                   kOtherClusterSectors);
  parts[1].slot = 1;
  parts[1].start = parts[0].sectors;
  Disk disk;
  disk.partitions = {parts[0], parts[1]};
  disk.sectors = parts[1].start + parts[1].sectors;
  return disk;
}

std::vector<const FilePlacement*> demo_placements(const BuildResult& built, const std::vector<DemoRecording>& recordings) {
  std::vector<const FilePlacement*> out;
  size_t next[2][2] = {};  // [partition][older lap]: the next placement of each list
  for (const DemoRecording& r : recordings) {
    const FilePlacement* p = nullptr;
    if (r.partition >= 0 && r.partition < 2 && size_t(r.partition) < built.partitions.size()) {
      const PartitionReport& report = built.partitions[size_t(r.partition)];
      const std::vector<FilePlacement>& list = r.older_lap ? report.older_lap : report.files;
      size_t& i = next[r.partition][r.older_lap ? 1 : 0];
      if (i < list.size()) p = &list[i++];
    }
    out.push_back(p);
  }
  return out;
}

std::string demo_path(const DemoRecording& r, const FilePlacement& p) {
  const auto field = [](uint32_t t, int shift, uint32_t mask) { return int(t >> shift & mask); };
  char name[160];
  std::snprintf(name, sizeof name, "/mnt/idea%d/%04d-%02d-%02d/%03d/%02d.%02d.%02d-%02d.%02d.%02d[%c][@%x][%d].h264",
                r.partition, 2000 + field(r.start, 26, 0x3F), field(r.start, 22, 0xF), field(r.start, 17, 0x1F),
                r.channel + 1, field(r.start, 12, 0x1F), field(r.start, 6, 0x3F), field(r.start, 0, 0x3F),
                field(r.end, 12, 0x1F), field(r.end, 6, 0x3F), field(r.end, 0, 0x3F), "RAMCH"[r.kind % 5],
                p.first_cluster, p.repeat_no);
  return name;
}

}  // namespace krt_testing
