// Export benchmark: `krt export` of every recording of a large disk next to `krt cat` of the
// same bytes, in one run, with the image in the page cache.
//
// The disk: a sparse image with one partition, 4,096 sectors per cluster (2 MiB) and 8
// channels of 15-minute files of 3 clusters from 2010-03-05 18:00 to 2010-03-06 04:30 (336
// recordings, 2 GiB of pattern data, two days); channel 3's files open with a 2-sector "DHII"
// header. It is built once per run in $TMPDIR (or /tmp) and removed at the end; --image=PATH
// builds it at PATH and keeps it, and a later run with the same --image reuses it. Each
// benchmark runs the built `krt` tool as a child process; the copies go to a folder next to
// the image and are removed between iterations (outside the timing).
//
//   BM_CatToNull  krt cat of every recording (one run, all paths) to /dev/null: reading alone.
//   BM_CatToFile  the same into one file beside the export folder: reading and writing the
//                 same bytes an export writes. The reference for the goal below.
//   BM_Export     krt export /mnt DIR: listing, folders, one file per recording, SHA-256 of
//                 every file and DIR/SHA256SUMS. Counter "of_cat" = its throughput divided by
//                 BM_CatToFile's (goal: at least 0.9).
//   BM_CopyJob    the viewer's copy job (RunCopyJob, app/core/copyjob.h) of every recording, in
//                 this process on the thread the copy dialog would use: the same export code,
//                 with the volume brought up once beforehand. Counter "of_cat" as above (goal:
//                 at least 0.9). Built where the viewer's core library is.
// bytes_per_second counts the recordings' bytes (as listed) per iteration. BM_CatToNull runs
// first and reads the whole image, so the timed runs after it read from the page cache.
//
// The export hashes on a second thread while it copies, so it needs a free core to keep up;
// on a busy machine the ratio drops. With TMPDIR=/dev/shm (image and copies in memory) the
// comparison shows the tool's own work rather than the speed of the disk the copies land on.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_image.h"
#include "krt_testing/image_builder.h"
#ifdef EXPORT_BENCH_COPYJOB
#include <atomic>

#include "copyjob.h"
#include "krt/disk.h"
#include "krt/volume.h"
#endif

extern char** environ;

namespace {

namespace kb = krt_testing;

constexpr uint32_t kSectorPerClus = 4096;
constexpr uint32_t kClustersPerFile = 3;
constexpr uint32_t kFileSeconds = 15 * 60;
constexpr uint64_t kPartitionSectors = 32ull << 21;  // 32 GiB

std::string g_image;                 // the image file
std::string g_work;                  // folder for the copies
std::vector<std::string> g_paths;    // every recording, as `krt ls` lists them
std::vector<uint64_t> g_sizes;       // their listed sizes
uint64_t g_bytes = 0;                // their listed sizes, summed
double g_cat_to_file_rate = 0;       // bytes per second of BM_CatToFile

kb::Disk bench_disk() {
  kb::Disk disk = kb::single_partition_disk(kPartitionSectors, kSectorPerClus);
  kb::File model;
  model.clusters = kClustersPerFile;
  const uint32_t from = kb::pack_time(2010, 3, 5, 18, 0, 0), to = kb::pack_time(2010, 3, 6, 4, 30, 0);
  kb::Partition& p = disk.partitions[0];
  p.files = kb::recordings({0, 1, 2, 4, 5, 6, 7}, from, to, kFileSeconds, model);
  model.header_sectors = 2;
  const auto headed = kb::recordings({3}, from, to, kFileSeconds, model);
  p.files.insert(p.files.end(), headed.begin(), headed.end());
  return disk;
}

uint64_t file_bytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// Runs the tool with args, standard output to out_path. Returns its exit status (-1 when it
// could not be started or was killed).
int run_tool(const std::vector<std::string>& args, const std::string& out_path) {
  std::vector<std::string> words{KRT_TOOL_PATH, "-d", g_image};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The output of the tool with args ("" when it fails).
std::string tool_output(const std::vector<std::string>& args) {
  const std::string out = g_work + "/listing";
  if (run_tool(args, out) != 0) return "";
  std::string text;
  if (std::FILE* f = std::fopen(out.c_str(), "r")) {
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
  }
  return out;
}

// Builds the image (or reuses a kept one) and lists every recording with the tool.
bool prepare(const std::string& image, bool reuse) {
  g_image = image;
  const kb::Disk disk = bench_disk();
  kb::BuildResult plan;
  if (!bench::build_image_once(disk, g_image, reuse, "export_bench", plan)) return false;
  for (const std::string& day : lines(tool_output({"ls", "/mnt/idea0"}))) {
    const std::string day_path = "/mnt/idea0/" + day;
    for (const std::string& channel : lines(tool_output({"ls", day_path}))) {
      const std::string channel_path = day_path + "/" + channel;
      for (const std::string& line : lines(tool_output({"ls", channel_path}))) {
        const size_t tab = line.find('\t');
        g_paths.push_back(channel_path + "/" + line.substr(0, tab));
        g_sizes.push_back(std::stoull(line.substr(tab + 1)));
        g_bytes += g_sizes.back();
      }
    }
  }
  if (g_paths.size() != disk.partitions[0].files.size()) {
    std::fprintf(stderr, "export_bench: the tool lists %zu of %zu recordings\n", g_paths.size(),
                 disk.partitions[0].files.size());
    return false;
  }
  return true;
}

void cat_all(benchmark::State& state, const std::string& out_path) {
  std::vector<std::string> args{"cat"};
  args.insert(args.end(), g_paths.begin(), g_paths.end());
  for (auto _ : state) {
    if (run_tool(args, out_path) != 0 || (out_path != "/dev/null" && file_bytes(out_path) != g_bytes)) {
      state.SkipWithError("krt cat failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * g_bytes));
}

void BM_CatToNull(benchmark::State& state) { cat_all(state, "/dev/null"); }

void BM_CatToFile(benchmark::State& state) {
  const std::string out = g_work + "/cat.out";
  cat_all(state, out);
  ::unlink(out.c_str());
}

void BM_Export(benchmark::State& state) {
  const std::string dir = g_work + "/export";
  for (auto _ : state) {
    if (run_tool({"export", "/mnt", dir}, "/dev/null") != 0) {
      state.SkipWithError("krt export failed");
      break;
    }
    state.PauseTiming();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * g_bytes));
}

#ifdef EXPORT_BENCH_COPYJOB
void BM_CopyJob(benchmark::State& state) {
  krt::DiskSources sources;
  sources.images = {g_image};
  sources.environment = sources.program_folder = sources.block_devices = false;
  krt::set_disk_sources(sources);
  krt::volume_startup();
  CCopyJob job;
  for (size_t i = 0; i < g_paths.size(); ++i) job.Add(g_paths[i], g_sizes[i]);
  job.m_strFolder = g_work + "/copyjob";
  const std::atomic<bool> cancel{false};
  for (auto _ : state) {
    const CCopyOutcome outcome = RunCopyJob(job, cancel, nullptr);
    if (outcome.m_end != CCopyOutcome::endDone || outcome.m_nCopied != int(g_paths.size())) {
      state.SkipWithError("the copy job failed");
      break;
    }
    state.PauseTiming();
    std::error_code ec;
    std::filesystem::remove_all(job.m_strFolder, ec);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * g_bytes));
}
#endif

// Keeps BM_CatToFile's throughput so that BM_Export can report its share of it.
class RateKeeper : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const auto rate = r.counters.find("bytes_per_second");
      if (rate == r.counters.end()) continue;
      if (r.benchmark_name().rfind("BM_CatToFile", 0) == 0) g_cat_to_file_rate = rate->second;
    }
    std::vector<Run> shown = runs;
    for (Run& r : shown) {
      const auto rate = r.counters.find("bytes_per_second");
      const bool exporting =
          r.benchmark_name().rfind("BM_Export", 0) == 0 || r.benchmark_name().rfind("BM_CopyJob", 0) == 0;
      if (exporting && rate != r.counters.end() && g_cat_to_file_rate > 0)
        r.counters["of_cat"] = rate->second / g_cat_to_file_rate;
    }
    ConsoleReporter::ReportRuns(shown);
  }
};

BENCHMARK(BM_CatToNull)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
BENCHMARK(BM_CatToFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
#ifdef EXPORT_BENCH_COPYJOB
BENCHMARK(BM_CopyJob)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
#endif

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  g_work = std::string(tmp && *tmp ? tmp : "/tmp") + "/vendrel-export_bench-" + std::to_string(::getpid());
  std::filesystem::create_directories(g_work);
  ::setenv("VENDREL_DISKS", "", 1);  // only the image
  RateKeeper reporter;
  const int status = bench::image_bench_main(argc, argv, "export_bench", prepare, &reporter);
  std::error_code ec;
  std::filesystem::remove_all(g_work, ec);
  return status;
}
