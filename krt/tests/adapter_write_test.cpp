// Writing through the "/mnt" adapter: a new recording written in pieces (buffered, direct and
// flushed half way) reads back through the adapter with its head hidden; the viewer's library
// (its default write hook) leaves the image unchanged whatever is written; rename.
#include <cstdlib>
#include <cstring>

#include "adapter_support.h"
#include "krt/adapter.h"
#include "krt/file.h"
#include "writer_support.h"

namespace krt {
namespace {

using test::MemoryDisk;

constexpr const char* kNewFile = "/mnt/idea0/2010-03-06/003/12.00.00-12.00.00[R][@0][0].h264";

class AdapterWrite : public test::AdapterTest {
 protected:
  void TearDown() override {
    use_system_clock();
    AdapterTest::TearDown();
  }

  // Brings up one small disk with a few recordings (the pattern payload).
  void up_small() {
    test::kb::Disk disk = test::kb::single_partition_disk(100000, 64);
    disk.partitions[0].files = test::some_files(60);
    up({disk});
    use_manual_clock(test::kb::pack_time(2010, 3, 6, 12, 0, 0));
  }

  static const FileOps& ops() { return *adapter_file_ops(); }

  // Bytes 0..n-1 of a test recording.
  static std::vector<uint8_t> payload(size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 7 + i / 511);
    return out;
  }
};

// Writes bytes through the slot in pieces of the given sizes (0 = flush here).
size_t write_pieces(const FileOps& ops, FSHandle f, const std::vector<uint8_t>& bytes, const std::vector<size_t>& pieces) {
  size_t at = 0;
  for (size_t n : pieces) {
    if (n == 0) {
      EXPECT_EQ(ops.flush(f), 0);
      continue;
    }
    // A 512-aligned copy, so that large aligned pieces take the direct path.
    void* aligned = std::aligned_alloc(512, (n + 511) / 512 * 512);
    std::memcpy(aligned, bytes.data() + at, n);
    EXPECT_EQ(ops.write(aligned, 1, n, f), n);
    std::free(aligned);
    at += n;
  }
  return at;
}

TEST_F(AdapterWrite, NewRecordingReadsBackWithItsHeadHidden) {
  up_small();
  MemoryDisk::install();
  FSHandle f = ops().open(kNewFile, "wb");
  ASSERT_NE(f, nullptr);
  const std::vector<uint8_t> bytes = payload(200000);
  // Small pieces, a flush after 32,768 + 300 bytes (a partial kilobyte one sector into a new
  // cluster, completed by the next piece), a direct piece, and a tail.
  const size_t written = write_pieces(ops(), f, bytes, {1000, 31768, 300, 0, 724, 40960, 77, 95211, 0, 29960});
  ASSERT_EQ(written, bytes.size());
  auto* h = static_cast<FILEHANDLE*>(f);
  char path[256];
  ASSERT_EQ(krt_file_get_path(h, path, sizeof path), FS_OK);
  EXPECT_EQ(h->cur_dir_info.hdr_sectors, 512) << "the 256 KB head of a new file";
  ASSERT_EQ(ops().close(f), 0);

  bool ok = false;
  const std::vector<uint8_t> back = test::read_all(path, 32768, ok);
  ASSERT_TRUE(ok) << path;
  // The file ends at the end of its last kilobyte, filled with 0xFF.
  std::vector<uint8_t> expected = bytes;
  expected.resize((bytes.size() + 1023) / 1024 * 1024, 0xFF);
  ASSERT_EQ(back.size(), expected.size());
  EXPECT_TRUE(back == expected);
}

TEST_F(AdapterWrite, ViewerLibraryLeavesTheImageUnchanged) {
  up_small();
  ASSERT_EQ(disk_hooks().write, default_disk_hooks().write);
  const std::string before = images_[0]->file.contents();
  FSHandle f = ops().open(kNewFile, "wb");
  ASSERT_NE(f, nullptr);
  const std::vector<uint8_t> bytes = payload(100000);
  EXPECT_EQ(write_pieces(ops(), f, bytes, {5000, 0, 40960, 54040}), bytes.size());
  EXPECT_EQ(ops().close(f), 0);
  krt_file_close_all();
  EXPECT_TRUE(images_[0]->file.contents() == before);
}

TEST_F(AdapterWrite, WritesNeedAWritingHandleAndRoom) {
  up_small();
  MemoryDisk::install();
  const std::string name = test::expected_name(test::some_files(60)[0], report().files[0]);
  const std::string path = "/mnt/idea0/2010-03-05/001/" + name;
  FSHandle r = ops().open(path.c_str(), "rb");
  ASSERT_NE(r, nullptr);
  const uint8_t byte = 1;
  EXPECT_EQ(ops().write(&byte, 1, 1, r), 0u) << "a reading handle";
  EXPECT_EQ(ops().flush(r), 0);
  EXPECT_EQ(ops().close(r), 0);

  FSHandle w = ops().open(kNewFile, "wb");
  DriverParam& p = *get_pdp(0, 0);
  const uint32_t current = p.current_cluster;
  p.current_cluster = p.total_clus - 3;
  EXPECT_EQ(ops().write(&byte, 1, 1, w), 0u) << "fewer than three clusters left";
  p.current_cluster = current;
  EXPECT_EQ(ops().write(&byte, 0, 1, w), 0u);
  EXPECT_EQ(ops().write(&byte, 1, 1, w), 1u);
  EXPECT_EQ(ops().close(w), 0);
}

TEST_F(AdapterWrite, RenameWritesTheItemBackAndKeepsTheName) {
  up_small();
  MemoryDisk::install();
  const std::string name = test::expected_name(test::some_files(60)[0], report().files[0]);
  const std::string path = "/mnt/idea0/2010-03-05/001/" + name;
  std::string renamed = path;
  renamed.replace(renamed.find("[R]"), 3, "[A]");
  const uint32_t first = report().files[0].first_cluster;
  const DriverParam& p = *get_pdp(0, 0);
  const uint64_t item_sector = p.start_sector + p.dir_off + first / kDirItemsPerSector;
  const std::vector<uint8_t> before = MemoryDisk::sector(0, item_sector);
  EXPECT_EQ(ops().rename(path.c_str(), renamed.c_str()), 0);
  EXPECT_EQ(MemoryDisk::writes().count({0, item_sector}), 1u) << "the item is written back";
  EXPECT_EQ(MemoryDisk::sector(0, item_sector), before) << "as it stands";
  FSHandle still = ops().open(path.c_str(), "rb");
  EXPECT_NE(still, nullptr);
  ops().close(still);
  EXPECT_EQ(ops().rename("/mnt/idea0/2010-03-09/001/01.00.00-01.00.00[R][@0][0].h264", renamed.c_str()), -1);
  EXPECT_EQ(ops().rename(path.c_str(), "/mnt/idea0/elsewhere"), -1);
}

}  // namespace
}  // namespace krt
