// The operations of the read-only file system, called directly (no kernel mount needed): the
// tree as the tool lists it, sizes as listed, bytes as CFSFile reads them from any offset and on
// many threads at once, and EROFS for every change.
#include <fcntl.h>

#include <random>
#include <set>
#include <thread>

#include "krt/disk.h"
#include "krt/volume.h"
#include "mount_fs.h"
#include "tool_support.h"
#include "vfs/fsfile.h"

namespace tool_test {
namespace {

class MountFs : public ::testing::Test {
 protected:
  void SetUp() override {
    krt::set_disk_sources({Images::get().paths, false, false, false});
    krt::volume_startup();
    ASSERT_EQ(krt::get_disk_info(nullptr), 2);
    mount_fs::reset();
  }

  static std::vector<std::string> names(const char* folder) {
    std::vector<std::string> out;
    EXPECT_EQ(mount_fs::readdir(folder, [&](const char* n) { out.push_back(n); }), 0) << folder;
    return out;
  }

  // The bytes of a recording as CFSFile reads it.
  static std::string adapter_bytes(const std::string& fs_path) {
    CFSFile f;
    EXPECT_TRUE(f.Open(("/mnt" + fs_path).c_str(), CFSFile::modeRead));
    std::string out;
    char block[65536];
    for (uint32_t n; (n = f.Read(block, sizeof block)) > 0;) out.append(block, n);
    return out;
  }

  // Reads [offset, offset + size) of an open recording.
  static std::string read_at(uint64_t handle, int64_t offset, size_t size) {
    std::string buf(size, '\0');
    const int n = mount_fs::read(handle, buf.data(), size, offset);
    EXPECT_GE(n, 0) << offset << "+" << size;
    buf.resize(size_t(std::max(n, 0)));
    return buf;
  }

  // The channel folder of disk 0, partition 0 on 2010-03-05, channel 001, and its recordings.
  const char* kChannel = "/idea0/2010-03-05/001";
  std::vector<Placed> placed() const { return Images::get().recordings(0, 0, 2010, 3, 5, 0); }
};

TEST_F(MountFs, ListsTheTreeWithSizesAsListed) {
  const std::vector<std::string> root = names("/");
  EXPECT_EQ(std::set<std::string>(root.begin(), root.end()),
            (std::set<std::string>{".", "..", "idea0", "idea1", "ideb0"}));
  std::vector<std::string> expected = {".", ".."};
  for (const Placed& p : placed()) expected.push_back(Images::name(p));
  EXPECT_EQ(names(kChannel), expected);
  struct stat st {};
  ASSERT_EQ(mount_fs::getattr(kChannel, &st), 0);
  EXPECT_EQ(st.st_mode, S_IFDIR | 0555);
  const Placed first = placed()[0];
  ASSERT_EQ(mount_fs::getattr((std::string(kChannel) + "/" + Images::name(first)).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 0444);
  EXPECT_EQ(uint64_t(st.st_size), Images::size(first));
}

TEST_F(MountFs, UnknownPathsAndWrongKinds) {
  struct stat st {};
  uint64_t h = 0;
  EXPECT_EQ(mount_fs::getattr("/idea7", &st), -ENOENT);
  EXPECT_EQ(mount_fs::getattr("/idea0/2010-03-09", &st), -ENOENT);
  EXPECT_EQ(mount_fs::getattr((std::string(kChannel) + "/08.00.00-08.30.00R.h264").c_str(), &st), -ENOENT);
  EXPECT_EQ(mount_fs::getattr("/idea0/not a day", &st), -ENOENT);
  EXPECT_EQ(mount_fs::open(kChannel, O_RDONLY, h), -EISDIR);
  const std::string file = std::string(kChannel) + "/" + Images::name(placed()[0]);
  EXPECT_EQ(mount_fs::readdir(file.c_str(), [](const char*) {}), -ENOTDIR);
}

TEST_F(MountFs, EveryChangeIsRefusedWithErofs) {
  const std::string file = std::string(kChannel) + "/" + Images::name(placed()[0]);
  uint64_t h = 0;
  for (int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC, O_WRONLY | O_APPEND, O_RDONLY | O_CREAT}) {
    EXPECT_EQ(mount_fs::open(file.c_str(), flags, h), -EROFS) << flags;
  }
  EXPECT_EQ(mount_fs::refuse_change(), -EROFS);
}

TEST_F(MountFs, ReadsGiveTheAdaptersBytesFromAnyOffset) {
  for (const Placed& p : placed()) {
    const std::string file = std::string(kChannel) + "/" + Images::name(p);
    const std::string expected = adapter_bytes(file);
    ASSERT_EQ(expected.size(), Images::size(p));
    uint64_t h = 0;
    ASSERT_EQ(mount_fs::open(file.c_str(), O_RDONLY, h), 0);
    std::string sequential;
    for (std::string part; !(part = read_at(h, int64_t(sequential.size()), 4096 * 3 + 5)).empty();)
      sequential += part;
    EXPECT_TRUE(sequential == expected) << file;
    std::mt19937 rng(3);
    for (int i = 0; i < 20; ++i) {
      const size_t offset = rng() % expected.size();
      EXPECT_TRUE(read_at(h, int64_t(offset), 70000) == expected.substr(offset, 70000)) << offset;
    }
    EXPECT_EQ(read_at(h, int64_t(expected.size()) + 10, 100), "");
    mount_fs::release(h);
  }
}

TEST_F(MountFs, ManyReadersAtOnceReadCorrectly) {
  std::vector<std::string> files, expected;
  for (const Placed& p : placed()) {
    files.push_back(std::string(kChannel) + "/" + Images::name(p));
    expected.push_back(adapter_bytes(files.back()));
  }
  uint64_t shared = 0;
  ASSERT_EQ(mount_fs::open(files[0].c_str(), O_RDONLY, shared), 0);
  std::vector<std::thread> readers;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&, t] {
      std::mt19937 rng{unsigned(t)};
      // Even threads share one handle (as the kernel's read-ahead does); odd ones open their own.
      for (int i = 0; i < 40; ++i) {
        const size_t k = t % 2 == 0 ? 0 : rng() % files.size();
        uint64_t h = shared;
        if (t % 2 == 1 && mount_fs::open(files[k].c_str(), O_RDONLY, h) != 0) ++wrong[size_t(t)];
        const size_t offset = rng() % expected[k].size();
        wrong[size_t(t)] += read_at(h, int64_t(offset), 131072) != expected[k].substr(offset, 131072);
        if (t % 2 == 1) mount_fs::release(h);
      }
    });
  }
  for (std::thread& r : readers) r.join();
  mount_fs::release(shared);
  for (int t = 0; t < 8; ++t) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace tool_test
