// Helpers for the tests of mounting and restore: built images, start-up over them, and a view
// of the driver table.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "krt/driver.h"
#include "krt/mount.h"
#include "krt_testing/image_builder.h"
#include "test_support.h"

namespace krt::test {

namespace kb = krt_testing;

// A disk image built by the image builder, removed when the object goes.
struct BuiltImage {
  TempImage file{1};
  kb::BuildResult built;
};

// Tests that build images, attach them and start the library over them.
class MountTest : public LibraryTest {
 protected:
  // Builds each disk into its own image (failing the test when the builder refuses one) and
  // attaches them all, in order.
  void attach(const std::vector<kb::Disk>& disks) {
    std::vector<std::string> paths;
    for (const kb::Disk& d : disks) {
      images_.push_back(std::make_unique<BuiltImage>());
      BuiltImage& image = *images_.back();
      image.built = kb::build_image(d, image.file.path());
      ASSERT_TRUE(image.built.ok) << image.built.error;
      paths.push_back(image.file.path());
    }
    ASSERT_EQ(attach_only(paths), int(disks.size()));
  }

  // attach() then krt_file_sys_init with no shutdown time. Returns its result; the healthy
  // count goes to healthy_.
  int start(const std::vector<kb::Disk>& disks) {
    attach(disks);
    return krt_file_sys_init(healthy_, nullptr);
  }

  // What the builder wrote for partition index i (in Disk::partitions order) of disk d.
  const kb::PartitionReport& report(size_t d = 0, size_t i = 0) const { return images_[d]->built.partitions[i]; }

  const std::string& path(size_t d = 0) const { return images_[d]->file.path(); }

  // The (dev, part) pairs of the driver table's entries in use, in slot order.
  static std::vector<std::pair<int, int>> mounted() {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < kMaxDrivers; ++i) {
      const DriverParam& p = *driver_slot(i);
      if (driver_in_use(p)) out.emplace_back(p.dev, p.part);
    }
    return out;
  }

  std::vector<std::unique_ptr<BuiltImage>> images_;
  int healthy_ = -1;
};

// A small disk with one partition of 600,000 sectors, 64 sectors per cluster and no payload:
// total_clus 9,266 clusters, rev_clus 187.
inline kb::Disk small_disk() {
  kb::Disk disk = kb::single_partition_disk(600000, 64);
  disk.payload.kind = kb::Payload::Kind::kNone;
  return disk;
}

// Files of channels 0..3 from 2010-03-05 08:00 for `minutes`, 15-minute files, one cluster per
// five minutes.
inline std::vector<kb::File> some_files(int minutes, int hour = 8) {
  const uint32_t from = kb::pack_time(2010, 3, 5, hour, 0, 0);
  return kb::recordings(kb::channel_range(0, 3), from, kb::add_seconds(from, minutes * 60), 15 * 60);
}

// Channel 0 files of 15 minutes (three clusters of five minutes each) from `from` to `to`, in
// write run `run`.
inline std::vector<kb::File> run_of_files(uint32_t from, uint32_t to, uint32_t run = 0) {
  kb::File model;
  model.run = run;
  return kb::recordings({0}, from, to, 15 * 60, model);
}

// a followed by b.
inline std::vector<kb::File> joined(std::vector<kb::File> a, const std::vector<kb::File>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace krt::test
