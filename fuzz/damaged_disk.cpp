#include "damaged_disk.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "krt/cache.h"
#include "krt/file.h"
#include "krt/log.h"
#include "krt_testing/hostile_disk.h"
#include "krt_testing/scratch.h"

namespace fuzz {
namespace {

namespace kb = krt_testing;

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "fuzz: %s\n", message.c_str());
  std::abort();
}

SampleDisk build() {
  static kb::ScratchDir scratch;  // lives for the process; removed at exit
  SampleDisk out;
  out.path = scratch.path("sample.img");
  const kb::BuildResult built = kb::build_image(kb::damage_sample_disk(), out.path);
  if (!built.ok) die("the image builder refused the sample disk: " + built.error);
  out.sectors = built.disk_sectors;
  const auto add = [&](uint64_t sector, uint64_t offset, size_t size) {
    out.regions.push_back({sector * kb::kSectorBytes + offset, size});
  };
  add(kb::kTableSector, 0, kb::kSectorBytes);
  for (const kb::PartitionReport& r : built.partitions) add(r.start + r.layout.temp_off, 0, kb::kSectorBytes);
  for (const kb::PartitionReport& r : built.partitions) {
    const auto [first, end] = kb::used_clusters(r);
    add(r.start + r.layout.index_off, first, end - first);
  }
  for (const kb::PartitionReport& r : built.partitions) {
    const auto [first, end] = kb::used_clusters(r);
    add(r.start + r.layout.dir_off, uint64_t(first) * 32, size_t(end - first) * 32);
  }
  add(kb::kVersionSector, 0, kb::kSectorBytes);
  for (const kb::PartitionReport& r : built.partitions) add(r.start + r.layout.coll_sec, 0, kb::kSectorBytes);
  for (const kb::PartitionReport& r : built.partitions) {
    const auto [first, end] = kb::used_clusters(r);
    add(r.start + r.layout.second_dir, uint64_t(first) * 32, size_t(end - first) * 32);
  }
  for (const Region& g : out.regions) out.region_bytes += g.size;
  return out;
}

}  // namespace

const SampleDisk& sample_disk() {
  static const SampleDisk disk = build();
  return disk;
}

std::vector<uint8_t> region_bytes(const SampleDisk& disk) {
  std::vector<uint8_t> out(disk.region_bytes);
  const int fd = ::open(disk.path.c_str(), O_RDONLY);
  if (fd < 0) die("cannot open " + disk.path);
  size_t at = 0;
  for (const Region& g : disk.regions) {
    if (::pread(fd, out.data() + at, g.size, off_t(g.at)) != ssize_t(g.size)) die("cannot read " + disk.path);
    at += g.size;
  }
  ::close(fd);
  return out;
}

void lay_input(const SampleDisk& disk, const uint8_t* data, size_t size) {
  kb::hostile::install();
  kb::hostile::allow(0, 0, disk.sectors);
  for (const Region& g : disk.regions) {
    if (size == 0) break;
    const size_t n = std::min(size, g.size);
    kb::hostile::patch(0, g.at, data, n);
    data += n;
    size -= n;
  }
}

void check_library(const char* what) {
  const std::string cache = krt::cache_check();
  if (!cache.empty()) die(std::string("after ") + what + ", the sector cache breaks rule " + cache);
  const std::string handles = krt::file_handles_check();
  if (!handles.empty()) die(std::string("after ") + what + ", the handle table breaks rule " + handles);
  const std::vector<std::string> strays = kb::hostile::stray_transfers();
  if (!strays.empty()) die(std::string("after ") + what + ", a transfer outside the disk: " + strays.front());
}

void quiet_library_log() {
  static std::FILE* nowhere = std::fopen("/dev/null", "w");
  krt::set_log_stream(nowhere);
}

}  // namespace fuzz
