// Mounting benchmark: how long the library's start-up takes on a large recorder disk, next to a
// plain sequential read of the metadata areas of the same partitions, in one run.
//
// The disk: a sparse 2 TiB image with 4 partitions of 512 GiB, 4,096 sectors per cluster and
// 50,000 files of 5 clusters on each partition (200,000 files), 16 channels of 15-minute files.
// Every partition is left unclean, as by a recorder that lost power (stored write position 400
// clusters behind, index bytes of the last 300 clusters missing, the last file of each channel
// still open), so start-up runs the restore on each one. The image is built once per run by the image builder, in $TMPDIR (or
// /tmp), and removed at the end; --image=PATH builds it at PATH and keeps it, and a later run
// with the same --image reuses the file when its size is right.
//
//   BM_FileSysInit  krt_file_sys_init over the attached image. Start-up forgets the sector cache
//                   each time, so every iteration reads the metadata it needs again (the
//                   operating system's page cache serves repeated reads in both benchmarks).
//                   Counter "sectors" = sectors read through the read hook per start-up.
//                   Fails unless all 4 partitions mount and the restore moves each stored
//                   write position on.
//   BM_PlainRead    pread of relative sectors 187 .. index_off + index_size - 1 of every
//                   partition (both directory copies and the cluster index) in 1 MiB reads.
//                   Counter "sectors" = sectors read per iteration.
//   BM_VolumeStartup volume_startup over the same image, as the viewer and the `krt` tool bring
//                   the disks up: attach, the start-up above, the "/mnt" registration and the
//                   record calendar of disk 0 (a walk over the file starts of every partition,
//                   one directory item per file). Counters "sectors" as above and "days" =
//                   (partition, day) entries of the calendar. Fails unless all 4 partitions
//                   mount and each has calendar days.
//   BM_ListDay      lists every channel folder of one day of partition 0 through the "/mnt"
//                   adapter's find (16 channels, 96 files each), after a volume_startup (not
//                   timed) in each iteration, and then lists them all once more. Counter
//                   "files" = recordings listed by the first listing; "again_reads" = reads
//                   the second listing of the same day made. Fails unless every channel lists
//                   its files.
//   BM_OpenRead     opens the first recording of channel 1 of that day through the adapter
//                   and reads its first 1 MiB, after a volume_startup (not timed) in each
//                   iteration.
//   BM_ListDayFolders the same day's 16 channel folders through the catalog's listing, as
//                   `krt ls` of each of them lists them.
//   BM_DayCoverage  the coverage of that day over the disk's four partitions, as `krt timeline
//                   --day` computes it: the day's folders and the day before's (recordings that
//                   run past midnight), joined into spans. Counter "spans". Compare with
//                   BM_ListDayFolders in the same run.
//
// Every benchmark that goes through the library also counts what reached the read hook in its
// last iteration: "reads", "sectors", "places" (reads that do not continue the previous one)
// and the model's time of those reads on a spinning disk ("hdd_ms") and a USB flash disk
// ("ssd_ms"), as bench/io_model prices a trace. --readahead=off runs them with every sector of
// the cache read alone, for comparison.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_image.h"
#include "catalog/coverage.h"
#include "catalog/listing.h"
#include "krt/adapter.h"
#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/io_trace.h"
#include "krt/mount.h"
#include "krt/readahead.h"
#include "krt/volume.h"
#include "krt_testing/image_builder.h"

namespace {

namespace kb = krt_testing;

constexpr uint64_t kPartitionSectors = 1ull << 30;  // 512 GiB
constexpr int kPartitions = 4;
constexpr uint32_t kSectorPerClus = 4096;
constexpr uint32_t kFilesPerChannel = 3125;  // x 16 channels = 50,000 files per partition
constexpr uint32_t kFileSeconds = 15 * 60;
constexpr uint32_t kClustersPerFile = 5;

// The metadata range that BM_PlainRead reads, as absolute sectors.
struct Range {
  uint64_t first;
  uint64_t count;
};

std::string g_image;            // path of the image
std::vector<Range> g_ranges;    // one per partition
std::vector<uint32_t> g_saved_positions;  // current_cluster stored in each parameter block

// What reached the read hook since the last reset.
struct HookCount {
  krt::DiskModelClock hdd{krt::kSpinningDiskModel};
  krt::DiskModelClock ssd{krt::kUsbSsdModel};
  uint64_t sectors = 0;

  void set_counters(benchmark::State& state, const char* prefix = "") const {
    const std::string p = prefix;
    state.counters[p + "reads"] = double(hdd.calls());
    state.counters[p + "sectors"] = double(sectors);
    state.counters[p + "places"] = double(hdd.places());
    state.counters[p + "hdd_ms"] = hdd.ms();
    state.counters[p + "ssd_ms"] = ssd.ms();
  }
};
HookCount g_count;

// The described disk: partition k records 33 days starting 2010-01-01 + 33 k days.
kb::Disk bench_disk() {
  kb::Disk disk = kb::multi_partition_disk(std::vector<uint64_t>(kPartitions, kPartitionSectors),
                                           kSectorPerClus);
  disk.payload.kind = kb::Payload::Kind::kNone;
  kb::File model;
  model.clusters = kClustersPerFile;
  for (int k = 0; k < kPartitions; ++k) {
    kb::Partition& p = disk.partitions[size_t(k)];
    const uint32_t from = kb::add_seconds(kb::pack_time(2010, 1, 1, 0, 0, 0), int64_t(k) * 33 * 86400);
    const uint32_t to = kb::add_seconds(from, int64_t(kFilesPerChannel) * kFileSeconds);
    p.files = kb::recordings(kb::channel_range(0, 15), from, to, kFileSeconds, model);
    p.unclean = kb::Unclean{400, 300, true};
  }
  return disk;
}

// Builds the image (or reuses a kept one) and notes the metadata range of each partition.
bool prepare(const std::string& image, bool reuse) {
  g_image = image;
  kb::BuildResult plan;
  if (!bench::build_image_once(bench_disk(), g_image, reuse, "mount_bench", plan)) return false;
  for (const kb::PartitionReport& r : plan.partitions) {
    const kb::Layout& l = r.layout;
    g_ranges.push_back({r.start + l.dir_off, uint64_t(l.index_off) + l.index_size - l.dir_off});
    g_saved_positions.push_back(r.params.current_cluster);
  }
  return bench::attach_image(g_image, "mount_bench");
}

// The default read hook, counting what it reads into g_count.
int counting_read(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, uint8_t* buf) {
  const uint64_t sector = uint64_t(hi) << 32 | lo;
  g_count.sectors += count;
  g_count.hdd.read(disk, sector, count);
  g_count.ssd.read(disk, sector, count);
  return krt::disk_read_sectors(disk, count, lo, hi, buf);
}

// Counts the reads of the hook from here until the object goes (or reset() is called again).
struct Counting {
  Counting() {
    reset();
    krt::set_disk_hooks(krt::DiskHooks{counting_read, nullptr});
  }
  ~Counting() { krt::set_disk_hooks(krt::default_disk_hooks()); }
  Counting(const Counting&) = delete;
  Counting& operator=(const Counting&) = delete;
  static void reset() { g_count = HookCount{}; }
};

void BM_FileSysInit(benchmark::State& state) {
  Counting counting;
  int healthy = 0;
  HookCount last;
  for (auto _ : state) {
    Counting::reset();
    const int r = krt::krt_file_sys_init(healthy, nullptr);
    last = g_count;
    if (r != 0 || healthy != kPartitions) {
      state.SkipWithError("start-up did not mount every partition");
      break;
    }
  }
  for (int k = 0; k < kPartitions && !state.error_occurred(); ++k) {
    const krt::DriverParam* p = krt::get_pdp(0, k);
    if (!p || p->current_cluster <= g_saved_positions[size_t(k)]) {
      state.SkipWithError("the restore did not move the write position on");
    }
  }
  last.set_counters(state);
}

void BM_PlainRead(benchmark::State& state) {
  const int fd = ::open(g_image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    state.SkipWithError("cannot open the image");
    return;
  }
  constexpr uint64_t kChunkSectors = 2048;  // 1 MiB
  std::vector<uint8_t> buf(kChunkSectors * 512);
  uint64_t sectors = 0;
  for (auto _ : state) {
    sectors = 0;
    for (const Range& range : g_ranges) {
      for (uint64_t done = 0; done < range.count; done += kChunkSectors) {
        const uint64_t n = std::min(kChunkSectors, range.count - done);
        if (::pread(fd, buf.data(), n * 512, off_t((range.first + done) * 512)) != ssize_t(n * 512)) {
          state.SkipWithError("short read");
          break;
        }
        sectors += n;
      }
    }
    benchmark::DoNotOptimize(buf.data());
  }
  ::close(fd);
  state.counters["sectors"] = double(sectors);
  state.SetBytesProcessed(int64_t(state.iterations() * sectors * 512));
}

void BM_VolumeStartup(benchmark::State& state) {
  Counting counting;
  HookCount last;
  for (auto _ : state) {
    Counting::reset();
    const int healthy = krt::volume_startup();
    last = g_count;
    if (healthy != kPartitions || krt::calendar_partition_mask() != (1u << kPartitions) - 1) {
      state.SkipWithError("start-up did not mount every partition or the calendar missed one");
      break;
    }
  }
  uint64_t days = 0;
  for (const auto& part : krt::record_calendar().day_mask)
    for (const auto& year : part)
      for (const auto& month : year)
        for (const uint32_t mask : month) days += mask != 0;
  last.set_counters(state);
  state.counters["days"] = double(days);
}

// Lists channel folders 1 .. channels of the bench day; calls seen(channel, name) for each
// recording. Returns the number of recordings listed.
uint64_t list_day(int channels, const std::function<void(int, const char*)>& seen = {}) {
  const FileOps* ops = krt::adapter_file_ops();
  uint64_t files = 0;
  for (int c = 1; c <= channels; ++c) {
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "/mnt/idea0/2010-01-02/%03d/*", c);
    FSFindData data{};
    const FSFindHandle find = ops->find_first(pattern, &data);
    if (find == VFS_FIND_NONE) continue;
    do {
      ++files;
      if (seen) seen(c, data.name);
    } while (ops->find_next(find, &data) == 0);
    ops->find_close(find);
  }
  return files;
}

void BM_ListDay(benchmark::State& state) {
  Counting counting;
  uint64_t files = 0;
  HookCount first, again;
  for (auto _ : state) {
    state.PauseTiming();
    krt::volume_startup();
    Counting::reset();
    state.ResumeTiming();
    files = list_day(16);
    state.PauseTiming();
    first = g_count;
    Counting::reset();
    list_day(16);
    again = g_count;
    state.ResumeTiming();
    if (files != 16 * 86400 / kFileSeconds) {
      state.SkipWithError("a channel folder did not list its files");
      break;
    }
  }
  first.set_counters(state);
  state.counters["files"] = double(files);
  state.counters["again_reads"] = double(again.hdd.calls());
}

void BM_OpenRead(benchmark::State& state) {
  Counting counting;
  krt::volume_startup();
  std::string path;
  list_day(1, [&path](int, const char* name) {
    if (path.empty()) path = std::string("/mnt/idea0/2010-01-02/001/") + name;
  });
  const FileOps* ops = krt::adapter_file_ops();
  std::vector<uint8_t> buf(1 << 20);
  HookCount last;
  for (auto _ : state) {
    state.PauseTiming();
    krt::volume_startup();
    Counting::reset();
    state.ResumeTiming();
    const FSHandle f = path.empty() ? nullptr : ops->open(path.c_str(), "rb");
    if (!f) {
      state.SkipWithError("the first recording of the day does not open");
      break;
    }
    const size_t got = ops->read(buf.data(), 1, buf.size(), f);
    ops->close(f);
    last = g_count;
    if (got != buf.size()) {
      state.SkipWithError("the first 1 MiB of the recording does not read");
      break;
    }
  }
  last.set_counters(state);
}

void BM_ListDayFolders(benchmark::State& state) {
  krt::volume_startup();
  uint64_t files = 0;
  for (auto _ : state) {
    files = 0;
    for (int c = 1; c <= 16; ++c) {
      char path[64];
      std::snprintf(path, sizeof path, "/mnt/idea0/2010-01-02/%03d", c);
      TreePath folder;
      std::vector<TreeEntry> listed;
      std::string error;
      if (parse_tree_path(path, folder, error) && list_folder(folder, listed, error)) files += listed.size();
    }
    if (files != 16 * 86400 / kFileSeconds) {
      state.SkipWithError("a channel folder did not list its files");
      break;
    }
  }
  state.counters["files"] = double(files);
}

void BM_DayCoverage(benchmark::State& state) {
  krt::volume_startup();
  const std::vector<krt::PartitionName> partitions = list_partitions(0);
  size_t spans = 0;
  for (auto _ : state) {
    const DayCoverage day = day_coverage(partitions, CalendarDay{2010, 1, 2});
    spans = day.spans.size();
    if (spans == 0 || !day.errors.empty()) {
      state.SkipWithError("the day has no coverage");
      break;
    }
  }
  state.counters["spans"] = double(spans);
}

BENCHMARK(BM_FileSysInit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VolumeStartup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListDayFolders)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DayCoverage)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--readahead=off") krt::set_readahead(false);
    else args.push_back(argv[i]);
  }
  return bench::image_bench_main(int(args.size()), args.data(), "mount_bench", prepare);
}
