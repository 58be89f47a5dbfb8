// File-read benchmark: reading every recording of a large recorder disk through the file
// layer, next to pread of the same byte ranges, in one run.
//
// The disk: a sparse 16 GiB image with one partition, 4,096 sectors (2 MiB) per cluster and
// 1 GiB of recording data (the builder's pattern payload): 8 channels of 15-minute files, 16
// clusters each, their clusters interleaved as a recorder writes them. The image is built once
// per run by the image builder, in $TMPDIR (or /tmp), and removed at the end; --image=PATH
// builds it at PATH and keeps it, and a later run with the same --image reuses the file when its
// size is right.
//
//   BM_KrtFileRead  every file opened by its first cluster (krt_file_goto_clus) and read with
//                   krt_file_read in 32,768-byte requests to its end, as a player reads.
//   BM_Pread        pread of the same byte ranges, request by request, from the same image.
//
// Both report bytes per second of CPU time (Google Benchmark's rate; the wall time is shown
// too, and is the noisier figure on a busy machine). The run ends with the ratio of the two
// rates, averaged over repetitions ("krt_file_read / pread"). Before timing, one pass checks
// that both read the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_image.h"
#include "krt/disk.h"
#include "krt/file.h"
#include "krt/mount.h"
#include "krt_testing/image_builder.h"

namespace {

namespace kb = krt_testing;

constexpr uint64_t kDiskSectors = 32ull << 20;   // 16 GiB
constexpr uint32_t kSectorPerClus = 4096;        // 2 MiB clusters
constexpr uint32_t kRequestSectors = 64;         // 32,768-byte requests
constexpr uint32_t kClustersPerFile = 16;
constexpr int kChannels = 8;
constexpr int kFilesPerChannel = 4;

// One file: where it starts, and the absolute byte ranges of its requests.
struct FileRanges {
  uint32_t first_cluster;
  uint32_t sectors;
  std::vector<off_t> requests;  // byte offset of each 32,768-byte request on the image
};

std::string g_image;
std::vector<FileRanges> g_files;
uint64_t g_bytes = 0;  // bytes of recording data read per iteration

kb::Disk bench_disk() {
  kb::Disk disk = kb::single_partition_disk(kDiskSectors, kSectorPerClus);
  kb::File model;
  model.clusters = kClustersPerFile;
  const uint32_t from = kb::pack_time(2010, 3, 5, 8, 0, 0);
  const uint32_t to = kb::add_seconds(from, kFilesPerChannel * 15 * 60);
  disk.partitions[0].files = kb::recordings(kb::channel_range(0, kChannels - 1), from, to, 15 * 60, model);
  return disk;
}

// Reads one file through the file layer, calling `each` with every request's bytes.
template <typename Each>
bool read_file(const FileRanges& f, uint8_t* buf, Each each) {
  krt::FILEHANDLE* h = nullptr;
  if (krt::krt_file_open(h, 0, 0) != krt::FS_OK) return false;
  bool ok = krt::krt_file_goto_clus(h, 0, 0, f.first_cluster) == krt::FS_OK;
  for (size_t i = 0; ok && i < f.requests.size(); ++i) {
    ok = krt::krt_file_read(h, buf, kRequestSectors) == krt::FS_OK;
    if (ok) each(i, buf);
  }
  krt::krt_file_close(h);
  return ok;
}

// One pass before timing: the file layer and pread give the same bytes for every request.
bool same_bytes() {
  const int fd = ::open(g_image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<uint8_t> buf(kRequestSectors * 512), want(buf.size());
  bool same = true;
  for (const FileRanges& f : g_files) {
    same = same && read_file(f, buf.data(), [&](size_t i, const uint8_t* got) {
             same = same && ::pread(fd, want.data(), want.size(), f.requests[i]) == ssize_t(want.size()) &&
                    std::memcmp(got, want.data(), want.size()) == 0;
           });
  }
  ::close(fd);
  return same;
}

// Builds the image (or reuses a kept one), lists every file's requests, attaches the image,
// starts the library over it and checks that the file layer and pread read the same bytes.
bool prepare(const std::string& image, bool reuse) {
  g_image = image;
  kb::BuildResult plan;
  if (!bench::build_image_once(bench_disk(), g_image, reuse, "file_read_bench", plan)) return false;
  const kb::PartitionReport& part = plan.partitions[0];
  for (const kb::FilePlacement& f : part.files) {
    FileRanges r{f.first_cluster, f.size_sectors, {}};
    for (uint32_t s = 0; s < f.size_sectors; s += kRequestSectors) {
      const uint32_t cluster = f.clusters[s / kSectorPerClus];
      const uint64_t sector = part.start + part.layout.data_off + uint64_t(cluster) * kSectorPerClus +
                              s % kSectorPerClus;
      r.requests.push_back(off_t(sector * 512));
    }
    g_bytes += uint64_t(r.requests.size()) * kRequestSectors * 512;
    g_files.push_back(std::move(r));
  }
  if (!bench::attach_image(g_image, "file_read_bench")) return false;
  int healthy = 0;
  if (krt::krt_file_sys_init(healthy, nullptr) != 0 || healthy != 1) {
    std::fprintf(stderr, "file_read_bench: %s does not mount\n", g_image.c_str());
    return false;
  }
  if (!same_bytes()) {
    std::fprintf(stderr, "file_read_bench: the file layer and pread read different bytes\n");
    return false;
  }
  return true;
}

void BM_KrtFileRead(benchmark::State& state) {
  std::vector<uint8_t> buf(kRequestSectors * 512);
  for (auto _ : state) {
    for (const FileRanges& f : g_files) {
      if (!read_file(f, buf.data(), [](size_t, const uint8_t* b) { benchmark::DoNotOptimize(b); })) {
        state.SkipWithError("krt_file_read failed");
        return;
      }
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * g_bytes));
}

void BM_Pread(benchmark::State& state) {
  const int fd = ::open(g_image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    state.SkipWithError("cannot open the image");
    return;
  }
  std::vector<uint8_t> buf(kRequestSectors * 512);
  for (auto _ : state) {
    for (const FileRanges& f : g_files) {
      for (off_t at : f.requests) {
        if (::pread(fd, buf.data(), buf.size(), at) != ssize_t(buf.size())) {
          state.SkipWithError("short read");
          break;
        }
        benchmark::DoNotOptimize(buf.data());
      }
    }
  }
  ::close(fd);
  state.SetBytesProcessed(int64_t(state.iterations() * g_bytes));
}

BENCHMARK(BM_KrtFileRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pread)->Unit(benchmark::kMillisecond);

// The console output, plus the ratio of the two rates at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("bytes_per_second");
      if (run.run_type != Run::RT_Iteration || run.error_occurred || rate == run.counters.end()) continue;
      Mean& m = rates_[run.run_name.function_name];
      m.sum += rate->second.value;
      ++m.count;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double krt = rates_["BM_KrtFileRead"].value(), plain = rates_["BM_Pread"].value();
    if (krt > 0 && plain > 0) std::printf("krt_file_read / pread = %.3f\n", krt / plain);
  }

 private:
  struct Mean {
    double sum = 0;
    int count = 0;
    double value() const { return count ? sum / count : 0; }
  };
  std::map<std::string, Mean> rates_;  // mean rate of each benchmark's repetitions
};

}  // namespace

int main(int argc, char** argv) {
  RatioReporter reporter;
  return bench::image_bench_main(argc, argv, "file_read_bench", prepare, &reporter);
}
