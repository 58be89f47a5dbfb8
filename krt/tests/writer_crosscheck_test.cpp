// The image builder and the writer agree: the same recordings laid by the builder and written
// by the writer (cluster by cluster, at the builder's cluster times) give the same directory
// items and index bytes, byte for byte.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "krt/cache.h"
#include "writer_support.h"

namespace krt {
namespace {

using test::MemoryDisk;

// One cluster of the writer's replay: file `file` takes its cluster `k` at `time`.
struct Step {
  uint32_t time, channel, file, k;
  bool operator<(const Step& o) const {
    return std::tie(time, channel, file, k) < std::tie(o.time, o.channel, o.file, o.k);
  }
};

// Sectors [first, first + count) of an image file.
std::vector<uint8_t> image_sectors(const std::string& path, uint64_t first, uint32_t count) {
  std::vector<uint8_t> out(size_t(count) * kSectorBytes);
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_EQ(::pread(fd, out.data(), out.size(), off_t(first * kSectorBytes)), ssize_t(out.size()));
  ::close(fd);
  return out;
}

class WriterCrosscheck : public test::WriterTest {};

TEST_F(WriterCrosscheck, BuilderAndWriterLayTheSameItemsAndIndex) {
  const uint32_t from = test::kb::pack_time(2010, 3, 5, 8, 0, 0);
  const std::vector<test::kb::File> files =
      test::kb::recordings(test::kb::channel_range(0, 3), from, test::kb::add_seconds(from, 3600), 15 * 60);
  test::kb::Disk built = test::empty_disk(64);
  built.partitions[0].files = files;
  const test::kb::BuildResult plan = test::kb::plan_image(built);
  ASSERT_TRUE(plan.ok) << plan.error;
  const test::kb::PartitionReport& laid = plan.partitions[0];

  // The builder's image, on its own.
  test::TempImage built_image(1);
  ASSERT_TRUE(test::kb::build_image(built, built_image.path()).ok);

  // The writer's image: an empty partition, written at the builder's cluster times.
  start_writer(test::empty_disk(64));
  const DriverParam& p = *get_pdp(0, 0);
  std::vector<Step> steps;
  for (size_t i = 0; i < files.size(); ++i) {
    const test::kb::File& f = files[i];
    const uint32_t n = uint32_t(laid.files[i].clusters.size());
    const int32_t length = time_diff(f.end, f.start);
    for (uint32_t k = 0; k < n; ++k) {
      steps.push_back({time_add(f.start, int32_t(int64_t(length) * k / n)), f.channel, uint32_t(i), k});
    }
  }
  std::sort(steps.begin(), steps.end());
  const int32_t t0 = time_to_seconds(from);
  auto set_clock = [&](uint32_t t) { use_manual_clock(t, uint64_t(time_to_seconds(t) - t0) * 1000); };
  std::map<uint32_t, FILEHANDLE*> open;  // by channel
  std::map<uint32_t, uint32_t> open_end;
  auto close_channel = [&](uint32_t ch) {
    if (!open.count(ch)) return;
    set_clock(open_end[ch]);
    EXPECT_EQ(krt_file_close(open[ch]), FS_OK);
    open.erase(ch);
  };
  const std::vector<uint8_t> cluster = data(p.sector_per_clus, 1);
  for (const Step& s : steps) {
    if (s.k == 0) {
      close_channel(s.channel);
      set_clock(s.time);
      open[s.channel] = create(uint8_t(s.channel));
      open_end[s.channel] = files[s.file].end;
    }
    set_clock(s.time);
    ASSERT_EQ(write(open[s.channel], cluster), FS_OK);
  }
  for (uint32_t ch = 0; ch < 4; ++ch) close_channel(ch);
  ASSERT_EQ(bflush_all(), 0);

  // Every directory item and index byte up to the last cluster written, byte for byte.
  const uint32_t last = laid.real_current_cluster;
  ASSERT_EQ(p.current_cluster, last);
  const uint32_t dir_sectors = last / kDirItemsPerSector + 1;
  const uint32_t index_sectors = last / kIndexBytesPerSector + 1;
  std::vector<uint8_t> written_dir, written_index;
  for (uint32_t s = 0; s < dir_sectors; ++s) {
    const std::vector<uint8_t> b = MemoryDisk::sector(0, p.start_sector + p.dir_off + s);
    written_dir.insert(written_dir.end(), b.begin(), b.end());
  }
  for (uint32_t s = 0; s < index_sectors; ++s) {
    const std::vector<uint8_t> b = MemoryDisk::sector(0, p.start_sector + p.index_off + s);
    written_index.insert(written_index.end(), b.begin(), b.end());
  }
  const std::vector<uint8_t> built_dir = image_sectors(built_image.path(), p.dir_off, dir_sectors);
  const std::vector<uint8_t> built_index = image_sectors(built_image.path(), p.index_off, index_sectors);
  for (uint32_t c = 0; c <= last; ++c) {
    SCOPED_TRACE(c);
    const auto at = written_dir.begin() + c * 32;
    const auto built_at = built_dir.begin() + c * 32;
    ASSERT_TRUE(std::equal(at, at + 32, built_at)) << "directory item of cluster " << c;
    ASSERT_EQ(written_index[c], built_index[c]) << "index byte of cluster " << c;
  }
}

}  // namespace
}  // namespace krt
