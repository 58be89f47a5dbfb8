// The library never changes a disk: an image survives reads, cached writes and flushes.
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <random>

#include "krt/cache.h"
#include "krt/disk_io.h"
#include "test_support.h"

namespace krt {
namespace {

class ReadOnlyTest : public test::LibraryTest {};

TEST_F(ReadOnlyTest, ImageBytesAreUnchangedAfterCachedWritesAndFlushes) {
  constexpr uint64_t kSectors = 1024;
  test::TempImage image(kSectors);
  std::mt19937 random(7);
  std::vector<uint8_t> content(kSectors * kSectorBytes);
  for (uint8_t& byte : content) byte = uint8_t(random());
  image.write(0, content.data(), content.size());
  image.tag_krt();
  ASSERT_EQ(::chmod(image.path().c_str(), 0444), 0);
  const std::string before = image.contents();
  const size_t hash_before = std::hash<std::string>{}(before);

  ASSERT_EQ(test::attach_only({image.path()}), 1);
  // Every sector through the cache, changing each one; half written at once, half left dirty.
  for (uint64_t s = 0; s < kSectors; ++s) {
    Buf* b = bread(0, s);
    ASSERT_NE(b, nullptr) << s;
    ASSERT_EQ(std::memcmp(b->data, before.data() + s * kSectorBytes, kSectorBytes), 0) << s;
    std::memset(b->data, 0xFF, kSectorBytes);
    bdirty(b);
    if (s % 2 == 0) {
      EXPECT_EQ(bwrite(b), 0);
    }
    brelse(b);
  }
  EXPECT_EQ(bflush_all(), 0);
  // Every sector again by direct reads of 16 sectors, and direct writes over them.
  std::vector<uint8_t> buf(16 * kSectorBytes);
  for (uint64_t s = 0; s < kSectors; s += 16) {
    ASSERT_EQ(disk_io_read(0, 16, s, buf.data()), 0);
    ASSERT_EQ(std::memcmp(buf.data(), before.data() + s * kSectorBytes, buf.size()), 0) << s;
    std::fill(buf.begin(), buf.end(), 0);
    EXPECT_EQ(disk_io_write(0, 16, s, buf.data()), 0);
  }
  detach_disks();

  const std::string after = image.contents();
  EXPECT_EQ(std::hash<std::string>{}(after), hash_before);
  EXPECT_TRUE(after == before);
  struct stat st {};
  ASSERT_EQ(::stat(image.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

}  // namespace
}  // namespace krt
