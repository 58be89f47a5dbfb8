// The sector cache: holds, recycling order, dirty write-back, exhaustion and hash chains.
#include "krt/cache.h"

#include <cstring>
#include <thread>
#include <vector>

#include "test_support.h"

namespace krt {
namespace {

using test::attach_only;
using test::TempImage;

// Counts the reads and records the writes that reach the hooks.
struct HookLog {
  static inline int reads = 0;
  static inline int fail_read_number = 0;  // 1-based read that fails; 0 = none
  static inline std::vector<std::pair<uint64_t, uint8_t>> writes;  // sector, first byte

  static int read(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, uint8_t* buf) {
    if (++reads == fail_read_number) return -1;
    return disk_read_sectors(disk, count, lo, hi, buf);
  }
  static int write(uint16_t, uint16_t, uint32_t lo, uint32_t hi, const uint8_t* buf) {
    writes.emplace_back((uint64_t(hi) << 32) | lo, buf[0]);
    return 0;
  }
};

class CacheTest : public test::LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    // Each sector s of the image starts with the byte s & 0xFF.
    for (uint64_t s = 0; s < kSectors; ++s) {
      const uint8_t first = uint8_t(s == 0 ? 'K' : s);
      image_.write(s, &first, 1);
    }
    image_.tag_krt();
    ASSERT_EQ(attach_only({image_.path()}), 1);
    HookLog::reads = 0;
    HookLog::fail_read_number = 0;
    HookLog::writes.clear();
    set_disk_hooks(DiskHooks{HookLog::read, HookLog::write});
    set_readahead(false);  // each miss is then one hook read of its sector
  }

  // Reads and releases sector s, returning how many hook reads it took (0 = cache hit).
  int touch(uint64_t s) {
    const int before = HookLog::reads;
    Buf* b = bread(0, s);
    EXPECT_NE(b, nullptr);
    brelse(b);
    return HookLog::reads - before;
  }

  static constexpr uint64_t kSectors = 600;
  TempImage image_{kSectors};
};

TEST_F(CacheTest, ReadingAHeldSectorAgainGivesTheSameBufferWithTwoHolds) {
  Buf* a = bread(0, 7);
  Buf* b = bread(0, 7);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->refs, 2);
  EXPECT_EQ(a->data[0], 7);
  EXPECT_EQ(HookLog::reads, 1);
  brelse(a);
  brelse(b);
  EXPECT_EQ(a->refs, 0);
}

TEST_F(CacheTest, RecyclesTheBufferAssignedLongestAgo) {
  for (uint64_t s = 1; s <= kCacheBuffers; ++s) EXPECT_EQ(touch(s), 1);
  EXPECT_EQ(touch(1), 0);  // used recently, but still assigned first
  EXPECT_EQ(cache_ring_head()->sector, 1u);
  EXPECT_EQ(touch(kCacheBuffers + 1), 1);
  EXPECT_EQ(touch(2), 0);  // still cached, and now at the head
  EXPECT_EQ(touch(1), 1);  // was recycled; its re-read recycles sector 2's buffer
  EXPECT_EQ(touch(3), 0);
  EXPECT_EQ(touch(2), 1);
  EXPECT_EQ(cache_check(), "");
}

TEST_F(CacheTest, SkipsHeldBuffersWhenRecycling) {
  Buf* held = bread(0, 1);
  for (uint64_t s = 2; s <= kCacheBuffers; ++s) touch(s);
  EXPECT_EQ(touch(kCacheBuffers + 1), 1);  // takes sector 2's buffer, not the held one
  EXPECT_EQ(touch(1), 0);
  EXPECT_EQ(touch(2), 1);
  brelse(held);
}

TEST_F(CacheTest, DirtyBufferIsWrittenBeforeItIsRecycled) {
  Buf* b = bread(0, 9);
  b->data[0] = 0xEE;
  bdirty(b);
  brelse(b);
  for (uint64_t s = 100; s < 100 + kCacheBuffers - 1; ++s) touch(s);
  EXPECT_TRUE(HookLog::writes.empty());
  touch(300);  // recycles sector 9's buffer
  ASSERT_EQ(HookLog::writes.size(), 1u);
  EXPECT_EQ(HookLog::writes[0], (std::pair<uint64_t, uint8_t>{9, 0xEE}));
  b = bread(0, 9);  // the write went nowhere: the disk's byte is back
  EXPECT_EQ(b->data[0], 9);
  brelse(b);
}

TEST_F(CacheTest, ChangedSectorStaysVisibleUntilRecycled) {
  Buf* b = bread(0, 9);
  b->data[0] = 0xEE;
  bdirty(b);
  EXPECT_EQ(bwrite(b), 0);
  EXPECT_EQ(b->dirty, 0);
  brelse(b);
  b = bread(0, 9);
  EXPECT_EQ(b->data[0], 0xEE);
  brelse(b);
}

TEST_F(CacheTest, WithEveryBufferHeldNothingIsEvicted) {
  std::vector<Buf*> held;
  for (uint64_t s = 1; s <= kCacheBuffers; ++s) held.push_back(bread(0, s));
  const int reads = HookLog::reads;
  EXPECT_EQ(bread(0, 500), nullptr);
  EXPECT_EQ(getblk(0, 500), nullptr);
  EXPECT_EQ(HookLog::reads, reads);
  for (uint64_t s = 1; s <= kCacheBuffers; ++s) {
    Buf* again = bread(0, s);
    EXPECT_EQ(again, held[s - 1]);
    brelse(again);
  }
  EXPECT_EQ(HookLog::reads, reads);
  for (Buf* b : held) brelse(b);
  Buf* fresh = bread(0, 500);
  EXPECT_NE(fresh, nullptr);
  brelse(fresh);
}

TEST_F(CacheTest, SectorsSharingAHashChainAreBothFound) {
  Buf* a = bread(0, 5);
  Buf* b = bread(0, 261);
  ASSERT_NE(a, b);
  EXPECT_EQ(a->data[0], 5);
  EXPECT_EQ(b->data[0], 261 & 0xFF);
  brelse(a);
  brelse(b);
  EXPECT_EQ(touch(5), 0);
  EXPECT_EQ(touch(261), 0);
  EXPECT_EQ(touch(517), 1);
  EXPECT_EQ(cache_check(), "");
}

TEST_F(CacheTest, FailedReadLeavesNoHeldOrValidBuffer) {
  static std::vector<std::string> events;
  events.clear();
  set_event_hook([](const char* name, const char* text) { events.push_back(std::string(name) + " " + text); });
  HookLog::fail_read_number = 2;
  EXPECT_EQ(touch(1), 1);
  EXPECT_EQ(bread(0, 2), nullptr);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "StorageDeviceError Read, /dev/sd0a, 2");
  EXPECT_EQ(touch(2), 1);  // the next read tries the disk again
  EXPECT_EQ(cache_check(), "");
}

TEST_F(CacheTest, FlushWritesTheDirtyBuffersOfOneDiskOrAll) {
  for (uint64_t s : {30, 10, 20}) {
    Buf* b = bread(0, s);
    bdirty(b);
    brelse(b);
  }
  Buf* other = getblk(1, 40);  // a disk that is not attached: its write goes to the hook too
  bdirty(other);
  brelse(other);
  EXPECT_EQ(bflush(0), 0);
  ASSERT_EQ(HookLog::writes.size(), 3u);
  // Array order: buffers were assigned in the order 30, 10, 20.
  EXPECT_EQ(HookLog::writes[0].first, 30u);
  EXPECT_EQ(HookLog::writes[2].first, 20u);
  EXPECT_EQ(bflush_all(), 0);
  ASSERT_EQ(HookLog::writes.size(), 4u);
  EXPECT_EQ(HookLog::writes[3].first, 40u);
  EXPECT_EQ(bflush_all(), 0);
  EXPECT_EQ(HookLog::writes.size(), 4u);
}

TEST_F(CacheTest, ReleasingAFreeBufferWarnsAndKeepsItRecyclable) {
  Buf* b = bread(0, 3);
  brelse(b);
  test::LogCapture log;
  brelse(b);
  EXPECT_NE(log.text().find("FSWarn Trying to free free buffer\n"), std::string::npos);
  EXPECT_EQ(b->refs, 0);
  EXPECT_EQ(cache_check(), "");
}

TEST_F(CacheTest, BinitForgetsDirtyBuffersWithoutWriting) {
  Buf* b = bread(0, 3);
  b->data[0] = 0xAB;
  bdirty(b);
  brelse(b);
  binit();
  EXPECT_EQ(bflush_all(), 0);
  EXPECT_TRUE(HookLog::writes.empty());
  EXPECT_EQ(touch(3), 1);
}

TEST_F(CacheTest, A255thHoldIsTheLastOneABufferTakes) {
  std::vector<Buf*> holds;
  for (int i = 0; i < 255; ++i) holds.push_back(bread(0, 3));
  EXPECT_EQ(holds.back()->refs, 255);
  EXPECT_EQ(bread(0, 3), nullptr);  // a 256th would wrap the count round to 0
  for (Buf* b : holds) brelse(b);
  EXPECT_EQ(holds[0]->refs, 0);
}

TEST_F(CacheTest, ThreadsSharingTheCacheKeepItConsistent) {
  auto reader = [this](uint64_t first) {
    for (int i = 0; i < 2000; ++i) {
      const uint64_t s = (first + uint64_t(i) * 37) % kSectors;
      Buf* b = bread(0, s);
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->data[0], s == 0 ? 'K' : uint8_t(s));
      brelse(b);
    }
  };
  std::thread a(reader, 1);
  std::thread b(reader, 300);
  a.join();
  b.join();
  EXPECT_EQ(cache_check(), "");
}

TEST_F(CacheTest, IoScratchIsSixteenAlignedSectors) {
  uint8_t* scratch = io_scratch();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(scratch) % 512, 0u);
  std::memset(scratch, 0, kIoScratchSectors * kSectorBytes);
  EXPECT_EQ(disk_io_read(0, kIoScratchSectors, 16, scratch), 0);
  EXPECT_EQ(scratch[0], 16);
  EXPECT_EQ(scratch[15 * kSectorBytes], 31);
}

}  // namespace
}  // namespace krt
