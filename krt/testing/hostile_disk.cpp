#include "krt_testing/hostile_disk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <utility>

#include "krt/disk.h"
#include "krt/endian.h"

namespace krt_testing {

int attach_only(const std::vector<std::string>& images) {
  krt::DiskSources sources;
  sources.images = images;
  sources.environment = false;
  sources.program_folder = false;
  sources.block_devices = false;
  krt::set_disk_sources(sources);
  krt::attach_disks();
  return krt::get_disk_info(nullptr);
}

Disk damage_sample_disk() {
  Disk disk = multi_partition_disk({200000, 200000}, 64);
  Partition& p0 = disk.partitions[0];
  p0.seconds_per_cluster = 1800;
  p0.older_lap = recordings({0, 1}, pack_time(2010, 3, 4, 0, 0, 0), pack_time(2010, 3, 4, 12, 0, 0), 3600);
  p0.files = recordings({0, 1, 2}, pack_time(2010, 3, 5, 0, 0, 0), pack_time(2010, 3, 5, 4, 0, 0), 3600);
  Partition& p1 = disk.partitions[1];
  p1.seconds_per_cluster = 1800;
  File headed;
  headed.header_sectors = 2;
  p1.files = recordings({5}, pack_time(2010, 3, 6, 0, 0, 0), pack_time(2010, 3, 6, 4, 0, 0), 3600, headed);
  p1.unclean = Unclean{2, 1, true};
  return disk;
}

std::pair<uint32_t, uint32_t> used_clusters(const PartitionReport& report) {
  uint32_t end = report.layout.rev_clus;
  for (const auto* files : {&report.files, &report.older_lap}) {
    for (const FilePlacement& f : *files) {
      for (uint32_t c : f.clusters) end = std::max(end, c + 1);
    }
  }
  return {report.layout.rev_clus, end};
}

namespace hostile {
namespace {

constexpr size_t kMaxStrays = 16;

// The changed bytes of one sector: a mask of which bytes, and their values.
struct SectorPatch {
  std::array<uint8_t, krt::kSectorBytes> bytes{};
  std::array<bool, krt::kSectorBytes> set{};
};

struct State {
  std::map<std::pair<uint16_t, uint64_t>, SectorPatch> patches;  // (disk, sector)
  std::map<uint16_t, std::vector<std::pair<uint64_t, uint64_t>>> allowed;  // disk: [first, end)
  std::vector<std::string> strays;
  uint64_t reads = 0;
  uint64_t failed = 0;
  uint64_t fail_at = 0;
  bool fail_on = false;
};

State& state() {
  static State s;
  return s;
}

uint64_t sector_of(uint32_t lo, uint32_t hi) { return uint64_t(hi) << 32 | lo; }

void watch(const char* what, uint16_t disk, uint64_t first, uint16_t count) {
  State& s = state();
  const auto ranges = s.allowed.find(disk);
  if (ranges == s.allowed.end()) return;
  const uint64_t end = first + count;
  for (const auto& [a, b] : ranges->second) {
    if (first >= a && end <= b) return;
  }
  if (s.strays.size() < kMaxStrays) {
    s.strays.push_back(std::string(what) + " disk " + std::to_string(disk) + " sectors " +
                       std::to_string(first) + ".." + std::to_string(end - 1));
  }
}

int hostile_read(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, uint8_t* buf) {
  State& s = state();
  const uint64_t first = sector_of(lo, hi);
  watch("read", disk, first, count);
  const uint64_t n = ++s.reads;
  if (s.fail_at != 0 && (n == s.fail_at || (s.fail_on && n > s.fail_at))) {
    ++s.failed;
    return -1;
  }
  const int result = krt::disk_read_sectors(disk, count, lo, hi, buf);
  if (result != 0) return result;
  auto it = s.patches.lower_bound({disk, first});
  for (; it != s.patches.end() && it->first.first == disk && it->first.second < first + count; ++it) {
    uint8_t* sector = buf + (it->first.second - first) * krt::kSectorBytes;
    for (int i = 0; i < krt::kSectorBytes; ++i) {
      if (it->second.set[size_t(i)]) sector[i] = it->second.bytes[size_t(i)];
    }
  }
  return 0;
}

int hostile_write(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, const uint8_t*) {
  watch("write", disk, sector_of(lo, hi), count);
  return 0;
}

}  // namespace

void install() {
  reset();
  krt::set_disk_hooks({hostile_read, hostile_write});
}

void uninstall() {
  krt::set_disk_hooks(krt::default_disk_hooks());
  reset();
}

void reset() { state() = State{}; }

void patch(uint16_t disk, uint64_t at, const void* bytes, size_t size) {
  const auto* in = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    const uint64_t byte = at + i;
    SectorPatch& p = state().patches[{disk, byte / krt::kSectorBytes}];
    p.bytes[byte % krt::kSectorBytes] = in[i];
    p.set[byte % krt::kSectorBytes] = true;
  }
}

void patch_u32(uint16_t disk, uint64_t at, uint32_t value) {
  uint8_t bytes[4];
  krt::st32(bytes, value);
  patch(disk, at, bytes, sizeof bytes);
}

void fail_read(uint64_t n, bool from_then_on) {
  state().fail_at = n;
  state().fail_on = from_then_on;
}

uint64_t reads() { return state().reads; }

uint64_t failed_reads() { return state().failed; }

void allow(uint16_t disk, uint64_t first, uint64_t count) { state().allowed[disk].emplace_back(first, first + count); }

std::vector<std::string> stray_transfers() { return state().strays; }

}  // namespace hostile
}  // namespace krt_testing
