// The demo recorder disk: format with the library, then record minute by minute through the
// library's writer with a manual clock.
#include "demo_disk.h"

#include <algorithm>
#include <cmath>
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
#include "krt/endian.h"
#include "krt/file_write.h"
#include "krt/format.h"
#include "krt/layout.h"
#include "krt/mount.h"
#include "krt/packed_time.h"
#include "krt/partition.h"
#include "krt/work_drivers.h"

namespace krtdemo {
namespace {

// Two partitions of 6,815,744 sectors (3.25 GiB) with clusters of 16,384 sectors (8 MiB): 415
// clusters each, 8 of them reserved (the smallest reserve that holds the user-data area).
constexpr uint64_t kPartitionSectors = 6815744;
constexpr uint32_t kSectorsPerCluster = 16384;
constexpr int kPartitions = 2;
constexpr int kMirrorPart = 1;
constexpr int kMirroredChannel = 1;      // channel 002
constexpr int kHeaderChannel = 0;        // channel 001: files start with a "DHII" header
constexpr uint32_t kHeaderBytes = 1024;  // two sectors
constexpr size_t kClipBytesPerMinute = 16384;
constexpr uint32_t kMsPerMinute = 60000;
constexpr uint32_t kPackSecondsPerMinute = 6;  // P = pack period (ms) / 6000: P x 6 seconds
// The files the recording should make on idea0: its 407 recording clusters once, then about
// 20 more over its oldest ones. The older lap keeps what lies more than 256 clusters ahead of
// the write position (about 130 files), so a good part of it stays visible.
constexpr int kFilesToWrap = 427;
constexpr uint32_t kFirstDay[3] = {2024, 3, 5};

uint32_t at(int day, int hour, int minute) {
  const uint32_t base = krt::pack_time({int(kFirstDay[0]), int(kFirstDay[1]), int(kFirstDay[2]), 0, 0, 0});
  return krt::time_add(base, day * 86400 + hour * 3600 + minute * 60);
}

// P (minutes) for about `files` files in `minutes` minutes of `channels` channels: at least 11,
// and neither a divisor nor a multiple of 60, so that splits follow the file's own age (not the
// hour) and one file runs past midnight.
uint32_t pack_minutes(int channels, int minutes, int files) {
  uint32_t p = uint32_t(std::max<long>(11, std::lround(double(channels) * minutes / files)));
  while ((p <= 60 && 60 % p == 0) || p % 60 == 0) ++p;
  return p;
}

std::string date_text(uint32_t t) {
  const krt::TimeFields f = krt::unpack_time(t);
  char s[16];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d", f.year, f.month, f.day);
  return s;
}

std::string clock_text(uint32_t t) {
  const krt::TimeFields f = krt::unpack_time(t);
  char s[16];
  std::snprintf(s, sizeof s, "%02d:%02d:%02d", f.hour, f.minute, f.second);
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

// One recording channel: its handle, its encoder and the bytes still to write.
struct Channel {
  int index = 0;
  krt::FILEHANDLE* h = nullptr;
  std::unique_ptr<ClipEncoder> encoder;
  std::vector<uint8_t> queue;  // what the current file still has to write
};

class Recorder {
 public:
  Recorder(const DemoOptions& o, DemoResult& r) : options_(o), result_(r), ledger_(r.files) {}

  bool run() {
    const int minutes = options_.days * 1440 - 10 + 60 - 180;
    result_.pack_minutes = pack_minutes(options_.channels, minutes, kFilesToWrap);
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

  // One minute of a channel: a new file starts with its clip, a running one goes on with
  // what is left of it or with padding.
  bool write_minute(Channel& ch, bool clock_jumped) {
    const uint32_t now = krt::time_now();
    if (!ch.h) {
      const int mirror = ch.index == kMirroredChannel ? 1 : 0;
      if (krt::krt_file_create(0, uint8_t(ch.index), 2, 0, 0, now, mirror, 0, ch.h) != krt::FS_OK)
        return fail("no file could be created");
    }
    // A clock jump cuts every file at the next write; a file without a cluster is new.
    const bool new_file = clock_jumped || ch.h->first_cluster == 0;
    uint32_t header = 0;
    if (new_file) {
      ch.queue.clear();
      if (ch.index == kHeaderChannel) {
        ch.queue = dhii_header();
        header = kHeaderBytes;
      }
      const std::vector<uint8_t> clip = ch.encoder->clip(date_text(now), clock_text(now));
      if (clip.empty()) return fail("encoding failed: " + ch.encoder->error());
      ch.queue.insert(ch.queue.end(), clip.begin(), clip.end());
      ch.queue.resize((ch.queue.size() + kPaddingBytes - 1) / kPaddingBytes * kPaddingBytes, 0);
    }
    std::vector<uint8_t> chunk;
    if (ch.queue.empty()) {
      chunk = ch.encoder->padding();
    } else {
      const size_t n = std::min(ch.queue.size(), kClipBytesPerMinute);
      chunk.assign(ch.queue.begin(), ch.queue.begin() + long(n));
      ch.queue.erase(ch.queue.begin(), ch.queue.begin() + long(n));
    }
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
bool format_disk(DemoResult& r) {
  krt::Partition parts[kPartitions] = {{0, kPartitionSectors}, {kPartitionSectors, kPartitionSectors}};
  if (krt::krt_write_partitions(0, parts, kPartitions) != 0) return r.error = "the partition table could not be written", false;
  for (int p = 0; p < kPartitions; ++p) {
    if (krt::krt_format_driver(0, p, kSectorsPerCluster) != 0) return r.error = "formatting failed", false;
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
  if (options.days < 1 || options.days > kMaxDemoDays || options.channels < 1 || options.channels > kMaxDemoChannels ||
      options.pictures_per_clip < 1 || options.pictures_per_clip > kMaxDemoClipPictures) {
    result.error = "days must be 1.." + std::to_string(kMaxDemoDays) + ", channels 1.." +
                   std::to_string(kMaxDemoChannels) + " and pictures per clip 1.." +
                   std::to_string(kMaxDemoClipPictures);
    return result;
  }
  ImageFile image;
  if (!image.create(path, kPartitionSectors * kPartitions, result.error)) return result;
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
  bool ok = format_disk(result);
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
