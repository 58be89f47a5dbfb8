// The demo recorder disk: format with the library, then record minute by minute through the
// library's writer with a manual clock.
#include "demo_disk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "clip_encoder.h"
#include "image_file.h"
#include "krt/cache.h"
#include "krt/clock.h"
#include "krt/disk.h"
#include "krt/disk_io.h"
#include "krt/driver.h"
#include "krt/driver_info.h"
#include "krt/endian.h"
#include "krt/file_write.h"
#include "krt/format.h"
#include "krt/layout.h"
#include "krt/mount.h"
#include "krt/packed_time.h"
#include "krt/partition.h"
#include "krt/pdp.h"
#include "krt/userdata.h"
#include "krt/work_drivers.h"

namespace krtdemo {
namespace {

constexpr int kPartitions = 2;
constexpr int kMirrorPart = 1;
constexpr int kMirroredChannel = 1;      // channel 002
constexpr int kHeaderChannel = 0;        // channel 001: files start with a "DHII" header
constexpr uint32_t kHeaderBytes = 1024;  // two sectors
constexpr uint32_t kMsPerMinute = 60000;
constexpr uint32_t kPackSecondsPerMinute = 6;  // P = pack period (ms) / 6000: P x 6 seconds
constexpr uint32_t kMinPackMinutes = 10;  // the writer takes pack periods of a minute or more
constexpr uint32_t kMaxPackMinutes = 240;
constexpr uint32_t kMaxClusterSectors = 65536;
// The recording writes about 3 % more files than idea0 has recording clusters: it wraps once
// and the older lap, which keeps what lies more than 256 clusters ahead of the write
// position, still holds most of the recording.
constexpr double kWrapShare = 1.03;
constexpr uint32_t kFirstDay[3] = {2024, 3, 5};

uint32_t at(int day, int hour, int minute) {
  const uint32_t base = krt::pack_time({int(kFirstDay[0]), int(kFirstDay[1]), int(kFirstDay[2]), 0, 0, 0});
  return krt::time_add(base, day * 86400 + hour * 3600 + minute * 60);
}

// Minutes of recording: from 00:10 of the first day to the end of the last, less the three
// hours the clock skips, plus the hour it repeats.
uint32_t recording_minutes(int days) { return uint32_t(days * 1440 - 10 - 180 + 60); }

// Whether P suits the demo: a pack period the writer takes, and neither a divisor nor a
// multiple of 60, so that splits follow the file's own age (P minutes, not the hour) and one
// file runs past midnight.
bool usable_pack_minutes(uint32_t p) { return p >= kMinPackMinutes && 60 % p != 0 && p % 60 != 0; }

// Files the recording makes (about) with pack period P: every channel splits every P minutes.
uint32_t files_made(const DemoOptions& o, uint32_t p) { return uint32_t(o.channels) * (recording_minutes(o.days) / p); }

// Clusters of a partition of `sectors` that take recordings (0 when it cannot be formatted).
uint32_t recording_clusters(uint64_t sectors, uint32_t cluster_sectors) {
  krt::AreaLayout l{};
  if (!krt::compute_layout(sectors, cluster_sectors, l) || l.total_clus <= l.rev_clus) return 0;
  return l.total_clus - l.rev_clus;
}

// The smallest partition whose reserved clusters hold the user-data area (the reserve is a
// fiftieth of the partition, in whole clusters).
uint64_t smallest_partition(uint32_t cluster_sectors) {
  const uint64_t reserve = uint64_t(krt::kUdAreaOffset) + krt::kUdAreaSectors;
  return (reserve + cluster_sectors - 1) / cluster_sectors * cluster_sectors * 50;
}

// The disk's shape: cluster size, pack period P and partition size.
struct Shape {
  uint32_t cluster_sectors = 0;
  uint32_t pack_minutes = 0;
  uint64_t partition_sectors = 0;
  uint32_t recording_clusters = 0;
};

// The smallest cluster from o.cluster_sectors up for which the recording can fill the
// smallest partition and wrap; the longest P that still does; then the partition grows until
// the files are kWrapShare times its recording clusters. Options too small to wrap even the
// largest cluster get P = the shortest and the smallest partition (no older lap).
Shape disk_shape(const DemoOptions& o) {
  Shape shape;
  for (uint32_t cs = o.cluster_sectors; cs <= kMaxClusterSectors && shape.pack_minutes == 0; cs *= 2) {
    shape.cluster_sectors = cs;
    const double fill = kWrapShare * recording_clusters(smallest_partition(cs), cs);
    for (uint32_t p = kMinPackMinutes; p <= kMaxPackMinutes; ++p) {
      if (usable_pack_minutes(p) && files_made(o, p) >= fill) shape.pack_minutes = p;
    }
  }
  if (shape.pack_minutes == 0) shape.pack_minutes = kMinPackMinutes + 1;
  const uint32_t cs = shape.cluster_sectors;
  const uint32_t wanted = uint32_t(files_made(o, shape.pack_minutes) / kWrapShare);
  // Each round adds the clusters missing; the metadata's growth leaves a few for the next.
  uint64_t s = smallest_partition(cs);
  for (int round = 0; round < 8; ++round) {
    const uint32_t have = recording_clusters(s, cs);
    if (have >= wanted) break;
    s += uint64_t(wanted - have) * cs;
  }
  shape.partition_sectors = s;
  shape.recording_clusters = recording_clusters(s, cs);
  return shape;
}

std::string date_text(uint32_t t) {
  const krt::TimeFields f = krt::unpack_time(t);
  char s[16];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d", f.year, f.month, f.day);
  return s;
}

// The "DHII" header: the tag, its length in bytes, zeros.
std::vector<uint8_t> dhii_header() {
  std::vector<uint8_t> h(kHeaderBytes, 0);
  std::memcpy(h.data(), "DHII", 4);
  krt::st32(h.data() + 4, kHeaderBytes);
  return h;
}

// Counts the library's events.
int g_disk_overs = 0;
int g_time_changes = 0;
void count_event(const char* name, const char*) {
  if (std::strcmp(name, "DiskOver") == 0) ++g_disk_overs;
  if (std::strcmp(name, "TimeChanged") == 0) ++g_time_changes;
}

// Which demo file each handle is writing, found from the handle's place before and after each
// write, and which file owns each cluster.
class Ledger {
 public:
  explicit Ledger(std::vector<DemoFile>& files) : files_(files) {}

  // Records that `bytes` went into the file of handle h: (part, first) before the write and
  // after it. A write that started a new file (a split, a cut or a new partition) is the
  // file after it; one that split the file afterwards went into the file before it.
  void wrote(const krt::FILEHANDLE* h, int before_part, uint32_t before_first, int channel, uint32_t time,
             uint32_t header, const std::vector<uint8_t>& bytes) {
    const bool moved_on = h->first_cluster != 0;
    const int part = moved_on ? h->pdp->part : before_part;
    const uint32_t first = moved_on ? h->first_cluster : before_first;
    const Key key{part, first};
    auto it = owner_.find(key);
    int index = it == owner_.end() ? -1 : it->second;
    auto cur = current_.find(h);
    if (index < 0 || cur == current_.end() || cur->second != index) {
      if (index >= 0) files_[size_t(index)].overwritten = true;
      files_.push_back(DemoFile{part, first, channel, time, header, false, {}});
      index = int(files_.size() - 1);
      owner_[key] = index;
      current_[h] = index;
    }
    std::vector<uint8_t>& out = files_[size_t(index)].bytes;
    out.insert(out.end(), bytes.begin(), bytes.end());
  }

 private:
  using Key = std::pair<int, uint32_t>;
  std::vector<DemoFile>& files_;
  std::map<Key, int> owner_;                       // file owning each first cluster
  std::map<const krt::FILEHANDLE*, int> current_;  // file each handle wrote last
};

// One recording channel: its handle, its encoder and the start of its files of one day.
struct Channel {
  int index = 0;
  krt::FILEHANDLE* h = nullptr;
  std::unique_ptr<ClipEncoder> encoder;
  std::string start_date;          // the day `start` was made for
  std::vector<uint8_t> start;      // a file's first write: header (channel 001), clip, padding
};

class Recorder {
 public:
  Recorder(const DemoOptions& o, DemoResult& r) : options_(o), result_(r), ledger_(r.files) {}

  bool run() {
    krt::set_pack_period(result_.pack_minutes * kPackSecondsPerMinute);
    for (int c = 0; c < options_.channels; ++c) {
      Channel ch;
      ch.index = c;
      const StreamKind kind = c % 2 == 0 ? StreamKind::kProgramStream : StreamKind::kRawH264;
      ch.encoder = std::make_unique<ClipEncoder>(c + 1, kind, options_.pictures_per_clip);
      if (!ch.encoder->error().empty()) return fail(ch.encoder->error());
      channels_.push_back(std::move(ch));
    }
    // The clock jumps forward three hours at 02:00 of the first day and back one hour at
    // 13:00 of the last.
    const uint32_t forward_at = at(0, 2, 0);
    const uint32_t back_at = at(options_.days - 1, 13, 0);
    const uint32_t end = at(options_.days, 0, 0);
    bool went_forward = false, went_back = false;
    krt::use_manual_clock(at(0, 0, 10), 0);
    while (krt::time_now() < end) {
      bool jump = false;
      const uint32_t now = krt::time_now();
      if (!went_forward && now >= forward_at) {
        krt::set_clock_time(krt::time_add(now, 3 * 3600));
        went_forward = jump = true;
      } else if (!went_back && now >= back_at) {
        krt::set_clock_time(krt::time_add(now, -3600));
        went_back = jump = true;
      }
      for (Channel& ch : channels_) {
        if (!write_minute(ch, jump)) return false;
      }
      krt::advance_clock(kMsPerMinute);
    }
    for (Channel& ch : channels_) krt::krt_file_close(ch.h);
    return true;
  }

 private:
  bool fail(const std::string& why) {
    result_.error = why;
    return false;
  }

  // The first write of a channel's files on the day of `now`: the "DHII" header (channel
  // 001), the clip, zeros to a whole padding unit. Encoded once a day.
  bool make_start(Channel& ch, uint32_t now) {
    const std::string date = date_text(now);
    if (date == ch.start_date) return true;
    ch.start.clear();
    if (ch.index == kHeaderChannel) ch.start = dhii_header();
    const std::vector<uint8_t> clip = ch.encoder->clip(date, "");
    if (clip.empty()) return fail("encoding failed: " + ch.encoder->error());
    ch.start.insert(ch.start.end(), clip.begin(), clip.end());
    ch.start.resize((ch.start.size() + kPaddingBytes - 1) / kPaddingBytes * kPaddingBytes, 0);
    ch.start_date = date;
    return true;
  }

  // One minute of a channel: a new file starts with its clip, a running one goes on with
  // padding.
  bool write_minute(Channel& ch, bool clock_jumped) {
    const uint32_t now = krt::time_now();
    if (!ch.h) {
      const int mirror = ch.index == kMirroredChannel ? 1 : 0;
      if (krt::krt_file_create(0, uint8_t(ch.index), 2, 0, 0, now, mirror, 0, ch.h) != krt::FS_OK)
        return fail("no file could be created");
    }
    // A clock jump cuts every file at the next write; a file without a cluster is new.
    const bool new_file = clock_jumped || ch.h->first_cluster == 0;
    if (new_file && !make_start(ch, now)) return false;
    const uint32_t header = new_file && ch.index == kHeaderChannel ? kHeaderBytes : 0;
    const std::vector<uint8_t> chunk = new_file ? ch.start : ch.encoder->padding();
    krt::FILEHANDLE* mirror = ch.h->mirror;
    const int part = ch.h->pdp->part;
    const uint32_t first = ch.h->first_cluster;
    const int mirror_part = mirror ? mirror->pdp->part : 0;
    const uint32_t mirror_first = mirror ? mirror->first_cluster : 0;
    const int r = krt::krt_file_write(ch.h, chunk.data(), uint32_t(chunk.size() / krt::kSectorBytes));
    if (r != krt::FS_OK) return fail("writing channel " + std::to_string(ch.index + 1) + " failed: " + std::to_string(r));
    ledger_.wrote(ch.h, part, first, ch.index, now, header, chunk);
    if (mirror) ledger_.wrote(mirror, mirror_part, mirror_first, ch.index, now, header, chunk);
    return true;
  }

  const DemoOptions& options_;
  DemoResult& result_;
  Ledger ledger_;
  std::vector<Channel> channels_;
};

// Lays out the disk: version block, two partitions, each formatted; idea1 becomes the mirror
// partition (type 3).
bool format_disk(DemoResult& r, uint32_t cluster_sectors) {
  const uint64_t size = r.partition_sectors;
  krt::Partition parts[kPartitions] = {{0, size}, {size, size}};
  if (krt::krt_write_partitions(0, parts, kPartitions) != 0) return r.error = "the partition table could not be written", false;
  for (int p = 0; p < kPartitions; ++p) {
    if (krt::krt_format_driver(0, p, cluster_sectors) != 0) return r.error = "formatting failed", false;
  }
  int healthy = 0;
  krt::krt_file_sys_init(healthy, nullptr);
  if (krt::krt_set_driver_type(0, kMirrorPart, krt::kMirrorDriverType) != 0)
    return r.error = "the mirror partition could not be set up", false;
  krt::bflush_all();
  if (krt::krt_file_sys_init(healthy, nullptr) != 0 || healthy != 1 || !krt::work_driver(krt::kMirrorDriverType))
    return r.error = "the formatted partitions did not mount", false;
  return true;
}

// Stops the recorder as it does when switched off properly: every partition is marked closed
// cleanly and its parameter block saved.
bool stop_cleanly() {
  bool ok = true;
  for (int i = 0; i < krt::kMaxDrivers; ++i) {
    krt::DriverParam& p = *krt::driver_slot(i);
    if (!krt::driver_in_use(p)) continue;
    p.status = krt::kStatusClean;
    ok = krt::save_pdp(p) == krt::FS_OK && ok;
  }
  return ok;
}

}  // namespace

DemoResult make_demo_disk(const std::string& path, const DemoOptions& options) {
  DemoResult result;
  const uint32_t min_cs = options.cluster_sectors;
  if (options.days < 1 || options.days > kMaxDemoDays || options.channels < 1 || options.channels > kMaxDemoChannels ||
      options.pictures_per_clip < 1 || options.pictures_per_clip > kMaxDemoClipPictures || min_cs == 0 ||
      (min_cs & (min_cs - 1)) != 0 || min_cs > kMaxClusterSectors) {
    result.error = "days must be 1.." + std::to_string(kMaxDemoDays) + ", channels 1.." +
                   std::to_string(kMaxDemoChannels) + ", pictures per clip 1.." +
                   std::to_string(kMaxDemoClipPictures) + " and the cluster a power of two up to " +
                   std::to_string(kMaxClusterSectors) + " sectors";
    return result;
  }
  const Shape shape = disk_shape(options);
  result.cluster_sectors = shape.cluster_sectors;
  result.pack_minutes = shape.pack_minutes;
  result.partition_sectors = shape.partition_sectors;
  result.recording_clusters = shape.recording_clusters;
  ImageFile image;
  if (!image.create(path, shape.partition_sectors * kPartitions, result.error)) return result;
  uint8_t sector0[krt::kSectorBytes];
  krt::write_version_block(sector0);
  if (!image.write_sector(krt::kVersionSector, sector0)) {
    result.error = path + ": the version block could not be written";
    return result;
  }
  krt::DiskSources sources;
  sources.images = {path};
  sources.environment = sources.program_folder = sources.block_devices = false;
  krt::set_disk_sources(sources);
  krt::attach_disks();
  if (krt::get_disk_info(nullptr) != 1 || krt::disk_source(0) != path) {
    result.error = path + ": the new image was not attached";
    krt::detach_disks();
    return result;
  }
  image.install_hook(0);
  g_disk_overs = g_time_changes = 0;
  krt::set_event_hook(count_event);
  bool ok = format_disk(result, shape.cluster_sectors);
  if (ok) {
    Recorder recorder(options, result);
    ok = recorder.run() && stop_cleanly();
  }
  ok = krt::bflush_all() == 0 && ok;
  krt::set_event_hook(nullptr);
  krt::use_system_clock();
  krt::set_pack_period(krt::kDefaultPackPeriodMs / 1000);
  krt::detach_disks();
  krt::binit();
  if (!image.close() && ok) {
    result.error = path + ": the image could not be written";
    ok = false;
  }
  result.disk_overs = g_disk_overs;
  result.time_changes = g_time_changes;
  result.ok = ok;
  return result;
}

}  // namespace krtdemo
