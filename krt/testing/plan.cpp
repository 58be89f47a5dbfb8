// Turns a disk description into a plan: checks it, places the partitions and their areas,
// builds the partition table and lays every partition's files.
#include <algorithm>

#include "plan.h"

namespace krt_testing {
namespace detail {
namespace {

constexpr uint32_t kLegacyParamOffset = 24;  // legacy entries name the parameter block sector

std::array<TableEntry, 4> make_table(const Disk& disk) {
  std::array<TableEntry, 4> table{};
  for (TableEntry& e : table) e = TableEntry{0, 0, 0, 0};
  int highest = -1;
  uint64_t end = 0;
  for (const Partition& p : disk.partitions) {
    if (disk.table_style == TableStyle::kCurrent) {
      table[p.slot] = TableEntry{p.start, p.sectors, kLegacyParamOffset, 1};
    } else {
      table[p.slot] = TableEntry{0, 0, uint32_t(p.start + kLegacyParamOffset), 1};
    }
    if (p.slot > highest) {
      highest = p.slot;
      end = p.start + p.sectors;
    }
  }
  if (disk.table_style == TableStyle::kLegacy && highest >= 0 && highest < 3)
    table[highest + 1] = TableEntry{0, 0, uint32_t(end + kLegacyParamOffset), 1};
  for (size_t i = 0; i < table.size(); ++i)
    if (disk.table_override[i]) table[i] = *disk.table_override[i];
  return table;
}

bool check_partition(const Disk& disk, const Partition& p, std::array<bool, 4>& used, std::string& error) {
  const std::string name = "partition slot " + std::to_string(p.slot);
  if (p.slot < 0 || p.slot > 3) return error = name + ": slot must be 0..3", false;
  if (used[p.slot]) return error = name + ": slot given twice", false;
  used[p.slot] = true;
  if (p.formatted && p.sector_per_clus == 0) return error = name + ": sector_per_clus is 0", false;
  if (disk.sectors && p.start + p.sectors > disk.sectors) return error = name + ": reaches past the disk", false;
  if (disk.table_style == TableStyle::kLegacy && p.start + p.sectors + kLegacyParamOffset > UINT32_MAX)
    return error = name + ": a legacy entry cannot name a sector beyond 32 bits", false;
  if (p.formatted && p.sectors / p.sector_per_clus > UINT32_MAX)
    return error = name + ": more than 2^32 clusters", false;
  return true;
}

// Every stream named by a file or the disk must be readable, and every byte payload given,
// before anything is written.
bool check_streams(const Disk& disk, std::string& error) {
  std::vector<std::string> paths;
  bool bytes_missing = false;
  auto note = [&](const Payload& p) {
    if (p.kind == Payload::Kind::kStream) paths.push_back(p.stream_path);
    bytes_missing |= p.kind == Payload::Kind::kBytes && !p.bytes;
  };
  note(disk.payload);
  for (const Partition& part : disk.partitions)
    for (const auto* files : {&part.files, &part.older_lap})
      for (const File& f : *files)
        if (f.payload) note(*f.payload);
  if (bytes_missing) return error = "a byte payload without bytes", false;
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  for (const std::string& path : paths) {
    std::vector<uint8_t> bytes;
    if (!read_stream(path, bytes)) return error = "cannot read stream file " + path, false;
  }
  return true;
}

}  // namespace

bool plan_disk(const Disk& disk, DiskPlan& plan) {
  std::string& error = plan.result.error;
  plan.version = disk.version;
  plan.write_table = disk.write_table;
  std::array<bool, 4> used{};
  uint64_t end = kTableSector + 1;
  for (const Partition& p : disk.partitions) {
    if (!check_partition(disk, p, used, error)) return false;
    end = std::max(end, p.start + p.sectors);
  }
  if (!check_streams(disk, error)) return false;
  plan.result.disk_sectors = disk.sectors ? disk.sectors : end;
  plan.result.table = make_table(disk);

  plan.partitions.resize(disk.partitions.size());
  for (size_t i = 0; i < disk.partitions.size(); ++i) {
    const Partition& part = disk.partitions[i];
    PartitionPlan& pp = plan.partitions[i];
    pp.report.slot = part.slot;
    pp.report.start = part.start;
    pp.formatted = part.formatted;
    pp.mirror_second_dir = part.mirror_second_dir;
    pp.v03 = disk.version == Version::k03;
    if (!part.formatted) continue;
    pp.report.layout = format_layout(part.sectors, part.sector_per_clus, part.layout);
    if (pp.report.layout.data_off >= part.sectors && !part.layout.data_off)
      return error = "partition slot " + std::to_string(part.slot) + ": too small for its areas", false;
    if (!lay_partition(disk, part, pp, error)) return false;
  }
  plan.result.ok = true;
  return true;
}

}  // namespace detail

namespace {

// Plans the disk, writes it when `path` is given, and hands back the result with the reports.
BuildResult run(const Disk& disk, const std::string* path) {
  detail::DiskPlan plan;
  if (detail::plan_disk(disk, plan) && path) detail::write_plan(plan, *path);
  for (detail::PartitionPlan& p : plan.partitions) plan.result.partitions.push_back(std::move(p.report));
  return plan.result;
}

}  // namespace

BuildResult plan_image(const Disk& disk) { return run(disk, nullptr); }

BuildResult build_image(const Disk& disk, const std::string& path) { return run(disk, &path); }

}  // namespace krt_testing
