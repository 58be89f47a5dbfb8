// Read-ahead under the sector cache, and the listings' memo: which requests reach the disk,
// that every byte read is the same as without read-ahead (damage included), and that the memo
// is forgotten on a start-up rerun and after a write of the library.
#include "krt/readahead.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "adapter_support.h"
#include "krt/cache.h"
#include "krt/disk_io.h"
#include "krt/adapter.h"

namespace krt {
namespace {

namespace kb = test::kb;

// The requests that reach the read hook, and the sectors it fails (every read that covers one).
struct Requests {
  static inline std::vector<std::pair<uint64_t, uint32_t>> log;  // first sector, count
  static inline std::set<uint64_t> bad;

  static int read(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, uint8_t* buf) {
    const uint64_t first = uint64_t(hi) << 32 | lo;
    log.emplace_back(first, count);
    const auto b = bad.lower_bound(first);
    if (b != bad.end() && *b < first + count) return -1;
    return disk_read_sectors(disk, count, lo, hi, buf);
  }
  static void reset() {
    log.clear();
    bad.clear();
  }
};

class ReadAheadTest : public test::LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    // Every sector carries its number in its first 8 bytes.
    for (uint64_t s = 1; s < kSectors; ++s) image_.write(s, &s, sizeof s);
    image_.tag_krt();
    ASSERT_EQ(test::attach_only({image_.path()}), 1);
    // A mounted partition over sectors 0 .. kPartitionEnd - 1: windows stay inside it.
    DriverParam& p = *driver_slot(0);
    p = DriverParam{};
    p.type = 0;
    p.dev = 0;
    p.start_sector = 0;
    p.data_off = uint32_t(kPartitionEnd);
    p.sector_per_clus = 1;
    Requests::reset();
    set_disk_hooks(DiskHooks{Requests::read, nullptr});
  }

  // Reads sector s through the cache and checks that it holds its own number.
  void touch(uint64_t s) {
    HeldBuf b(bread(0, s));
    ASSERT_TRUE(b) << s;
    uint64_t n = 0;
    std::memcpy(&n, b->data, sizeof n);
    EXPECT_EQ(n, s) << "sector " << s << " read wrong bytes";
  }

  static constexpr uint64_t kSectors = 40000;
  static constexpr uint64_t kPartitionEnd = 39000;
  test::TempImage image_{kSectors};
};

using Request = std::pair<uint64_t, uint32_t>;

struct Case {
  const char* name;
  std::vector<uint64_t> reads;      // sectors read through the cache, in order
  std::vector<Request> requests;    // what reaches the disk
};

// n sectors from first on, one after the other.
std::vector<uint64_t> run(uint64_t first, uint64_t n) {
  std::vector<uint64_t> out;
  for (uint64_t s = first; s < first + n; ++s) out.push_back(s);
  return out;
}

std::vector<uint64_t> interleave(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
  std::vector<uint64_t> out;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i < a.size()) out.push_back(a[i]);
    if (i < b.size()) out.push_back(b[i]);
  }
  return out;
}

TEST_F(ReadAheadTest, MergesAndReadsAheadAsTheTableSays) {
  const Case cases[] = {
      // A random read: 64 KiB around it. The next one continues it: the window doubles.
      {"sequential", run(1000, 400), {{936, 128}, {1064, 256}, {1320, 512}}},
      // Two walks taking turns keep a stream each.
      {"interleaved", interleave(run(1000, 200), run(20000, 200)),
       {{936, 128}, {19936, 128}, {1064, 256}, {20064, 256}}},
      // Reads far apart: one small request each; a walk downwards continues below.
      {"random", {5000, 30000, 12000, 4900}, {{4936, 128}, {29936, 128}, {11936, 128}, {4680, 256}}},
      // A long walk: windows grow to 1 MiB and stay there.
      {"crossing the budget", run(100, 6000),
       {{36, 128}, {164, 256}, {420, 512}, {932, 1024}, {1956, 2048}, {4004, 2048}, {6052, 2048}}},
      // Windows stop at the end of the partition; outside every partition sectors are read alone.
      {"end of the partition", {kPartitionEnd - 10, kPartitionEnd - 1}, {{kPartitionEnd - 74, 74}}},
      {"outside the partitions", {kPartitionEnd + 500, kPartitionEnd + 501},
       {{kPartitionEnd + 500, 1}, {kPartitionEnd + 501, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    binit();
    Requests::reset();
    for (const uint64_t s : c.reads) touch(s);
    EXPECT_EQ(Requests::log, c.requests);
    EXPECT_EQ(cache_check(), "");
  }
}

TEST_F(ReadAheadTest, ABadSectorFailsAloneAndIsReportedAlone) {
  Requests::bad = {1010};
  test::EventRecorder::install();
  const std::vector<std::string>& events = test::EventRecorder::events();
  touch(1000);  // its window covers the bad sector: read alone
  EXPECT_EQ(Requests::log, (std::vector<Request>{{936, 128}, {1000, 1}}));
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(bread(0, 1010), nullptr);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find(", 1010"), std::string::npos) << events[0];
  touch(1011);
}

TEST_F(ReadAheadTest, AWriteDropsTheWindowsOverIt) {
  touch(1000);
  binit();  // the window is gone with the cache: a start-up reads afresh
  touch(1001);
  EXPECT_EQ(Requests::log.size(), 2u);
  uint8_t sector[kSectorBytes] = {};
  ASSERT_EQ(disk_io_write(0, 1, 1002, sector), 0);
  touch(1003);  // served by no window any more
  EXPECT_EQ(Requests::log.size(), 3u);
  touch(1004);  // from the new window
  EXPECT_EQ(Requests::log.size(), 3u);
}

// ---- Same bytes, damage included --------------------------------------------------------------

// Two channels over three days, a file with a header, 64 sectors per cluster.
kb::Disk days_disk() {
  kb::Disk disk = kb::single_partition_disk(600000, 64);
  for (int day = 5; day <= 7; ++day) {
    for (int i = 0; i < 6; ++i) {
      for (uint8_t ch = 0; ch < 2; ++ch) {
        kb::File f;
        f.channel = ch;
        f.start = kb::pack_time(2010, 3, day, 8 + i, 0, 0);
        f.end = kb::add_seconds(f.start, 30 * 60);
        f.header_sectors = i == 2 ? 2 : 0;
        disk.partitions[0].files.push_back(f);
      }
    }
  }
  return disk;
}

class SameBytes : public test::AdapterTest {
 protected:
  // Everything a user sees of disk 0 partition 0 after a start-up: the calendar, each channel
  // folder's listing with sizes, each recording's bytes (as a sum), and the disk error report.
  std::string seen() {
    volume_startup();
    std::string out;
    for (int d = 1; d <= 31; ++d) {
      const uint32_t mask = calendar_day_mask(0, 2010, 3, d);
      if (!mask) continue;
      out += "day " + std::to_string(d) + " mask " + std::to_string(mask) + "\n";
      for (int c = 0; c < 32; ++c) {
        if (!(mask & (1u << c))) continue;
        char dir[64];
        std::snprintf(dir, sizeof dir, "/mnt/idea0/2010-03-%02d/%03d/", d, c + 1);
        for (const FSFindData& f : test::list(std::string(dir) + "*")) {
          bool ok = false;
          const std::vector<uint8_t> bytes = test::read_all(dir + std::string(f.name), 65536, ok);
          uint64_t sum = 0;
          for (const uint8_t b : bytes) sum = sum * 31 + b;
          out += std::string(f.name) + " " + std::to_string(f.size) + " " + std::to_string(ok) + " " +
                 std::to_string(bytes.size()) + " " + std::to_string(sum) + "\n";
        }
      }
    }
    const DiskErrorReport r = disk_error_report();
    out += "errors " + std::to_string(r.bad_mask) + " " + std::to_string(r.sector[0]) + "\n";
    return out;
  }

  // seen() with read-ahead off and on, bad sectors failing.
  void expect_same(const std::set<uint64_t>& bad) {
    std::string views[2];
    for (int on = 0; on < 2; ++on) {
      set_readahead(on == 1);
      set_disk_hooks(DiskHooks{Requests::read, nullptr});
      Requests::reset();
      Requests::bad = bad;
      clear_disk_error_report();
      views[on] = seen();
    }
    EXPECT_FALSE(views[0].empty());
    EXPECT_EQ(views[1], views[0]);
  }
};

TEST_F(SameBytes, ListingsAndRecordingsReadTheSameWithReadAhead) {
  attach({days_disk()});
  expect_same({});
}

TEST_F(SameBytes, DamageReadsTheSameWithReadAhead) {
  attach({days_disk()});
  const kb::PartitionReport& p = report();
  const uint64_t dir = p.start + p.layout.dir_off;
  const uint64_t index = p.start + p.layout.index_off;
  const uint64_t data = p.start + p.layout.data_off + uint64_t(p.files[4].first_cluster) * 64;
  // A bad sector in the directory items, in the cluster index, at a recording's start, and
  // each alone, so each damage is seen on its own.
  for (const std::set<uint64_t>& bad : std::vector<std::set<uint64_t>>{{dir + 1}, {index}, {data}, {dir, data + 3}}) {
    SCOPED_TRACE(*bad.begin());
    expect_same(bad);
  }
}

// ---- The memo ---------------------------------------------------------------------------------

class Memo : public test::AdapterTest {
 protected:
  // Hook reads made by listing both channel folders of 2010-03-06.
  static size_t list_day() {
    Requests::reset();
    for (const char* ch : {"001", "002"}) {
      EXPECT_EQ(test::list(std::string("/mnt/idea0/2010-03-06/") + ch + "/*").size(), 6u) << ch;
    }
    return Requests::log.size();
  }
};

TEST_F(Memo, ASecondListingReadsNothingUntilAStartUpOrAWrite) {
  up({days_disk()});
  set_readahead(false);  // every read of the cache reaches the hook
  set_disk_hooks(DiskHooks{Requests::read, nullptr});
  binit();
  EXPECT_GT(list_day(), 0u);
  EXPECT_EQ(list_day(), 0u);
  // The memo is kept: the cache alone would not hold what the listing read.
  binit();
  EXPECT_GT(list_day(), 0u);  // a start-up forgets the memo
  EXPECT_EQ(list_day(), 0u);
  {
    HeldBuf b(bread(0, report().start + report().layout.dir_off));
    ASSERT_TRUE(b);
    bdirty(b.get());  // a change of the library
  }
  EXPECT_GT(list_day(), 0u);
  EXPECT_EQ(list_day(), 0u);
  volume_startup();  // the start-up rerun
  set_disk_hooks(DiskHooks{Requests::read, nullptr});
  EXPECT_GT(list_day(), 0u);
}

TEST_F(Memo, TheCalendarReadAgainCostsNoReads) {
  up({days_disk()});
  set_disk_hooks(DiskHooks{Requests::read, nullptr});
  std::vector<uint8_t> first(kWorkCalendarBytes), again(kWorkCalendarBytes);
  for (std::vector<uint8_t>* block : {&first, &again}) {
    Requests::reset();
    CFSFile f;
    ASSERT_TRUE(f.Open("/mnt/idea0/WorkDirectory", CFSFile::modeRead));
    ASSERT_EQ(f.Read(block->data(), kWorkCalendarBytes), kWorkCalendarBytes);
  }
  EXPECT_TRUE(Requests::log.empty());
  EXPECT_EQ(again, first);
  EXPECT_EQ(work_calendar_days(again.data(), 2010, 3), (1u << 5) | (1u << 6) | (1u << 7));
}

}  // namespace
}  // namespace krt
