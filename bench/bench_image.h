// Plumbing shared by the benchmarks that run over a recorder disk image made by the image
// builder: the --image=PATH option, building the image once (or reusing a kept one), attaching
// it alone, and the program's main.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "krt/disk.h"
#include "krt_testing/image_builder.h"

namespace bench {

namespace kb = krt_testing;

// Plans `disk` into plan and builds it at path, unless reuse is set and a file of the planned
// size is there already. Reports failures on standard error under the program's name.
inline bool build_image_once(const kb::Disk& disk, const std::string& path, bool reuse,
                             const char* program, kb::BuildResult& plan) {
  plan = kb::plan_image(disk);
  if (!plan.ok) {
    std::fprintf(stderr, "%s: %s\n", program, plan.error.c_str());
    return false;
  }
  struct stat st {};
  if (reuse && ::stat(path.c_str(), &st) == 0 && uint64_t(st.st_size) / 512 == plan.disk_sectors) return true;
  std::fprintf(stderr, "%s: building %s ...\n", program, path.c_str());
  const kb::BuildResult built = kb::build_image(disk, path);
  if (!built.ok) std::fprintf(stderr, "%s: %s\n", program, built.error.c_str());
  return built.ok;
}

// Attaches the image at path as the only disk. Returns whether it is a recorder disk.
inline bool attach_image(const std::string& path, const char* program) {
  krt::DiskSources sources;
  sources.images = {path};
  sources.environment = sources.program_folder = sources.block_devices = false;
  krt::set_disk_sources(sources);
  krt::attach_disks();
  if (krt::get_disk_info(nullptr) == 1) return true;
  std::fprintf(stderr, "%s: %s is not attached as a recorder disk\n", program, path.c_str());
  return false;
}

// The main of such a benchmark: takes --image=PATH (build there and keep it; reuse it when its
// size is right) or uses a fresh file in $TMPDIR (or /tmp) removed at the end, runs
// prepare(image path, reuse), then the benchmarks (with `reporter` when given). Returns the
// program's exit status.
inline int image_bench_main(int argc, char** argv, const char* program,
                            const std::function<bool(const std::string&, bool)>& prepare,
                            benchmark::BenchmarkReporter* reporter = nullptr) {
  std::string image;
  bool keep = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg.substr(0, 8) == "--image=") {
      image = std::string(arg.substr(8));
      keep = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (image.empty()) {
    const char* dir = std::getenv("TMPDIR");
    image = std::string(dir && *dir ? dir : "/tmp") + "/vendrel-" + program + "-" +
            std::to_string(::getpid()) + ".img";
  }
  int rest = int(args.size());
  benchmark::Initialize(&rest, args.data());
  if (benchmark::ReportUnrecognizedArguments(rest, args.data())) return 1;
  const bool ready = prepare(image, keep);
  if (ready) reporter ? benchmark::RunSpecifiedBenchmarks(reporter) : benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  krt::detach_disks();
  if (!keep) ::unlink(image.c_str());
  return ready ? 0 : 1;
}

}  // namespace bench
