#include "twodisks.h"

#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <krt/disk.h>
#include <krt/packed_time.h>
#include <krt/recording_path.h>
#include <krt/volume.h>

namespace apptest {

namespace kb = krt_testing;

namespace {

uint32_t At(int y, int mo, int d, int h, int mi) { return kb::pack_time(y, mo, d, h, mi, 0); }

void SortByStart(std::vector<kb::File>& files) {
  std::stable_sort(files.begin(), files.end(), [](const kb::File& a, const kb::File& b) { return a.start < b.start; });
}

void Append(std::vector<kb::File>& to, const std::vector<kb::File>& files) { to.insert(to.end(), files.begin(), files.end()); }

kb::Disk FirstDisk() {
  kb::Disk disk = kb::multi_partition_disk({200000, 200000, 200000}, 64);
  std::vector<kb::File>& p0 = disk.partitions[0].files;
  p0 = kb::recordings({0, 1, 2, 31}, At(2010, 3, 5, 8, 0), At(2010, 3, 5, 11, 0), 3600);
  kb::File alone;
  alone.channel = 0;
  alone.start = At(2010, 3, 6, 7, 0);
  alone.end = At(2010, 3, 6, 8, 0);
  p0.push_back(alone);
  Append(p0, kb::recordings({0, 2, 3}, At(2010, 3, 6, 8, 0), At(2010, 3, 6, 10, 0), 3600));
  SortByStart(p0);
  disk.partitions[2].files = kb::recordings({5}, At(2010, 3, 7, 12, 0), At(2010, 3, 7, 13, 0), 1800);
  return disk;
}

kb::Disk SecondDisk() {
  kb::Disk disk = kb::multi_partition_disk({200000, 200000}, 64);
  disk.id = 1;
  disk.partitions[0].files = kb::recordings({0, 3}, At(2010, 4, 1, 8, 0), At(2010, 4, 1, 9, 0), 1800);
  disk.partitions[1].files = kb::recordings({31, 40}, At(2010, 4, 2, 10, 0), At(2010, 4, 2, 10, 20), 1200);
  return disk;
}

}  // namespace

const CTwoDisks& CTwoDisks::Get() {
  static const CTwoDisks disks;
  return disks;
}

CTwoDisks::CTwoDisks() {
  m_disks = {FirstDisk(), SecondDisk()};
  for (size_t i = 0; i < m_disks.size(); ++i) {
    m_paths.push_back(m_dir.path("disk" + std::to_string(i) + ".img"));
    m_built.push_back(kb::build_image(m_disks[i], m_paths.back()));
    EXPECT_TRUE(m_built.back().ok) << m_built.back().error;
    ::chmod(m_paths.back().c_str(), 0444);  // nothing here ever writes to a disk
  }
}

void CTwoDisks::Attach(int count) const {
  krt::DiskSources sources;
  sources.images.assign(m_paths.begin(), m_paths.begin() + count);
  sources.environment = false;
  sources.program_folder = false;
  sources.block_devices = false;
  krt::set_disk_sources(sources);
  krt::volume_startup();
}

std::vector<std::string> CTwoDisks::Names(int disk, int slot, int year, int month, int day, int channel) const {
  std::vector<std::string> out;
  const kb::Partition& part = m_disks[size_t(disk)].partitions[size_t(slot)];
  const kb::PartitionReport& report = m_built[size_t(disk)].partitions[size_t(slot)];
  for (size_t i = 0; i < part.files.size(); ++i) {
    const kb::File& f = part.files[i];
    const krt::TimeFields t = krt::unpack_time(f.start);
    if (f.channel != channel - 1 || t.year != year || t.month != month || t.day != day) continue;
    char name[krt::kRecordingNameBytes];
    krt::format_recording_name(name, sizeof name, f.start, f.end, f.type, report.files[i].first_cluster,
                               report.files[i].repeat_no, f.av != 0);
    out.push_back(name);
  }
  return out;
}

std::vector<uint8_t> CTwoDisks::Bytes(int disk, int slot, const std::string& name) const {
  const kb::Partition& part = m_disks[size_t(disk)].partitions[size_t(slot)];
  const kb::PartitionReport& report = m_built[size_t(disk)].partitions[size_t(slot)];
  for (size_t i = 0; i < part.files.size(); ++i) {
    const kb::File& f = part.files[i];
    char own[krt::kRecordingNameBytes];
    krt::format_recording_name(own, sizeof own, f.start, f.end, f.type, report.files[i].first_cluster,
                               report.files[i].repeat_no, f.av != 0);
    if (name == own) return kb::expected_bytes(report.files[i]);
  }
  return {};
}

}  // namespace apptest
