// Replays I/O traces of the disk layer (`krt --io-trace FILE`, VENDREL_IO_TRACE) against the
// disk models: a spinning disk (8.5 ms per read that does not continue the previous one,
// 150 MB/s) and a USB flash disk (0.1 ms, 350 MB/s).
//
//   io_model TRACE...
//
// For each trace: reads, bytes, separate places, the wall time the reads took, and the model's
// time on each disk, next to the model's time of the ideal: every sector the trace touches,
// read once and in disk order ("once" columns). Exit status 1 when a trace cannot be read.
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "krt/io_trace.h"

namespace {

struct Read {
  int disk;
  uint64_t sector;
  uint64_t count;
};

// Sectors touched, as runs: disk -> (first sector -> one past the last), merged.
using Runs = std::map<int, std::map<uint64_t, uint64_t>>;

void add_run(Runs& runs, const Read& r) {
  auto& m = runs[r.disk];
  uint64_t first = r.sector, end = r.sector + r.count;
  auto it = m.upper_bound(first);
  if (it != m.begin() && std::prev(it)->second >= first) --it;
  while (it != m.end() && it->first <= end) {
    first = std::min(first, it->first);
    end = std::max(end, it->second);
    it = m.erase(it);
  }
  m[first] = end;
}

// The model's time of reading every run once, in order, in requests of up to 1 MiB.
double once_ms(const Runs& runs, const krt::DiskModel& model) {
  krt::DiskModelClock clock(model);
  for (const auto& [disk, m] : runs)
    for (const auto& [first, end] : m)
      for (uint64_t s = first; s < end; s += 2048) clock.read(disk, s, std::min<uint64_t>(2048, end - s));
  return clock.ms();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: io_model TRACE...\n");
    return 1;
  }
  std::printf("%-28s %8s %12s %8s %10s %10s %10s %10s %10s\n", "trace", "reads", "bytes", "places", "wall ms",
              "hdd ms", "hdd once", "ssd ms", "ssd once");
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i]);
    if (!in) {
      std::fprintf(stderr, "io_model: %s cannot be read\n", argv[i]);
      status = 1;
      continue;
    }
    krt::DiskModelClock hdd(krt::kSpinningDiskModel), ssd(krt::kUsbSsdModel);
    Runs runs;
    uint64_t wall_us = 0;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream words(line);
      std::string kind;
      Read r{};
      uint64_t us = 0;
      if (!(words >> kind >> r.disk >> r.sector >> r.count >> us) || kind != "read" || r.disk < 0 ||
          r.disk >= krt::kMaxDisks) {
        std::fprintf(stderr, "io_model: %s line %d is not a trace line: %s\n", argv[i], n, line.c_str());
        status = 1;
        break;
      }
      hdd.read(r.disk, r.sector, r.count);
      ssd.read(r.disk, r.sector, r.count);
      add_run(runs, r);
      wall_us += us;
    }
    std::printf("%-28s %8" PRIu64 " %12" PRIu64 " %8" PRIu64 " %10.1f %10.1f %10.1f %10.1f %10.1f\n", argv[i],
                hdd.calls(), hdd.bytes(), hdd.places(), double(wall_us) / 1000.0, hdd.ms(),
                once_ms(runs, krt::kSpinningDiskModel), ssd.ms(), once_ms(runs, krt::kUsbSsdModel));
  }
  return status;
}
