// The time search over built images: one driver's section, all drivers, repeat numbers, the
// type filter and the time-ordered merge across drivers.
#include "file_support.h"
#include "krt/sections.h"

namespace krt {
namespace {

using test::kb::File;
using test::kb::FilePlacement;
using test::kb::pack_time;

uint32_t at(int hour, int minute, int second = 0) { return pack_time(2010, 3, 5, hour, minute, second); }

// Where a handle stands: its partition and cluster.
struct Spot {
  int part;
  uint32_t cluster;
  bool operator==(const Spot&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Spot& s) {
  return os << "(part " << s.part << ", cluster " << s.cluster << ")";
}

Spot spot(const FILEHANDLE* h) { return Spot{h->pdp ? h->pdp->part : -1, h->cur_cluster}; }

// Channels 0-3, 15-minute files of three 5-minute clusters from 08:00 to 09:00 (files 08:00,
// 08:15, 08:30 and 08:45 of each channel); files[4 * k + ch] is file k of channel ch.
class TimeSearch : public test::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    test::kb::Disk disk = test::small_disk();
    disk.partitions[0].files = test::some_files(60);
    start_ok({disk});
    h_ = open_handle();
  }

  Spot cluster_of(int file, int ordinal) const {
    return Spot{0, report().files[size_t(file)].clusters[size_t(ordinal)]};
  }

  FILEHANDLE* h_ = nullptr;
};

struct SearchCase {
  const char* name;
  uint32_t t;
  int kind;
  int result;
  int file;     // expected: file index and cluster ordinal (when the result is FS_OK)
  int ordinal;
};

TEST_F(TimeSearch, KindsOverOneDriver) {
  constexpr int kCh1File0 = 1, kCh1File1 = 5, kCh1File2 = 9, kCh1File3 = 13;
  const SearchCase cases[] = {
      {"kind 2 inside a file: the covering cluster", at(8, 7), kScanNext, FS_OK, kCh1File0, 1},
      {"kind 2 at a cluster's start", at(8, 10), kScanNext, FS_OK, kCh1File0, 2},
      {"kind 3 inside a file: the next file", at(8, 7), kScanNextFile, FS_OK, kCh1File1, 0},
      {"kind 3 at a file's start", at(8, 15), kScanNextFile, FS_OK, kCh1File1, 0},
      {"kind 7: the cluster starting before", at(8, 7), kScanPrev, FS_OK, kCh1File0, 1},
      {"kind 8: the last file start ended by t", at(8, 40), kScanPrevFile, FS_OK, kCh1File2, 0},
      {"kind 2 before every section", at(7, 0), kScanNext, FS_OK, kCh1File0, 0},
      {"kind 3 before every section", at(7, 0), kScanNextFile, FS_OK, kCh1File0, 0},
      {"kind 2 after every section", at(10, 0), kScanNext, FS_NO_EXIST_FILE, 0, 0},
      {"kind 3 after every section", at(10, 0), kScanNextFile, FS_NO_EXIST_FILE, 0, 0},
      {"kind 3 after the last file start", at(8, 50), kScanNextFile, FS_NO_EXIST_FILE, 0, 0},
      {"kind 7 after every section: the last cluster", at(10, 0), kScanPrev, FS_OK, kCh1File3, 2},
      {"kind 8 before every section", at(7, 0), kScanPrevFile, FS_NO_EXIST_FILE, 0, 0},
  };
  ASSERT_NE(h_, nullptr);
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(krt_file_goto_clus(h_, 0, 0, report().files[0].first_cluster), FS_OK);
    const Spot before = spot(h_);
    EXPECT_EQ(file_goto_work_driver(h_, 1, c.t, c.kind, 0, 255, 255), c.result);
    if (c.result == FS_OK) {
      EXPECT_EQ(spot(h_), cluster_of(c.file, c.ordinal));
      EXPECT_EQ(h_->channel, 1);
      EXPECT_EQ(h_->cur_offset, 0u);
    } else {
      EXPECT_EQ(spot(h_), before);  // a failed search leaves the handle where it was
      EXPECT_EQ(h_->channel, 0);
    }
  }
}

TEST_F(TimeSearch, NavigationWrappers) {
  ASSERT_NE(h_, nullptr);
  ASSERT_EQ(krt_file_goto_time(h_, 2, at(8, 31), 255, 255), FS_OK);
  EXPECT_EQ(spot(h_), cluster_of(10, 0));
  ASSERT_EQ(krt_file_goto_first(h_, 255, 255), FS_OK);
  EXPECT_EQ(spot(h_), cluster_of(2, 0));
  ASSERT_EQ(krt_file_goto_next(h_, 0, 255, 255), FS_OK);
  EXPECT_EQ(spot(h_), cluster_of(6, 0));
  ASSERT_EQ(krt_file_goto_last(h_, 255, 255), FS_OK);
  EXPECT_EQ(spot(h_), cluster_of(14, 0));
  EXPECT_EQ(krt_file_goto_next(h_, 0, 255, 255), FS_NO_EXIST_FILE);
  EXPECT_EQ(spot(h_), cluster_of(14, 0));
  ASSERT_EQ(krt_file_goto_next(h_, 1, 255, 255), FS_OK);  // wraps round to the first
  EXPECT_EQ(spot(h_), cluster_of(2, 0));
  EXPECT_EQ(krt_file_goto_prev(h_, 0, 255, 255), FS_NO_EXIST_FILE);
  ASSERT_EQ(krt_file_goto_prev(h_, 1, 255, 255), FS_OK);  // wraps round to the last
  EXPECT_EQ(spot(h_), cluster_of(14, 0));
  ASSERT_EQ(krt_file_goto_last_ch(h_, 3, 255, 255), FS_OK);
  EXPECT_EQ(spot(h_), cluster_of(15, 0));
  EXPECT_EQ(krt_file_goto_last_ch(h_, 40, 255, 255), FS_NO_EXIST_FILE);
  EXPECT_EQ(h_->channel, 3);
  FILEHANDLE* bare = open_handle();
  EXPECT_EQ(krt_file_goto_next(bare, 1, 255, 255), FS_NO_EXIST_FILE);
}

TEST_F(TimeSearch, GotoDriverInsideOneSection) {
  ASSERT_NE(h_, nullptr);
  ASSERT_EQ(krt_file_goto_clus(h_, 0, 0, report().files[1].first_cluster), FS_OK);
  const FilePlacement& f = report().files[5];  // channel 1, 08:15
  EXPECT_EQ(file_goto_driver(h_, at(8, 20), f.clusters[0], f.clusters[2], kScanNext, 0), FS_OK);
  EXPECT_EQ(h_->cur_cluster, f.clusters[1]);
  // The answer lies past the range given: the index search finds nothing there.
  EXPECT_EQ(file_goto_driver(h_, at(8, 50), f.clusters[0], f.clusters[2], kScanNext, 0), FS_READ_FAIL);
  EXPECT_EQ(h_->cur_cluster, f.clusters[1]);
  EXPECT_EQ(file_goto_driver(h_, at(8, 20), 50, 40, kScanNext, 0), FS_NO_EXIST_FILE);
  // A range past the partition's clusters is cut to its last cluster.
  const uint32_t total = get_pdp(0, 0)->total_clus;
  EXPECT_EQ(file_goto_driver(h_, at(8, 20), total, 0xFFFFFFF0, kScanNext, 0), FS_NO_EXIST_FILE);
  EXPECT_EQ(h_->cur_cluster, f.clusters[1]);
  // Backward kinds meet the answer where the binary search ends on it (here with any channel).
  h_->channel = kAnyChannel;
  EXPECT_EQ(file_goto_driver(h_, at(8, 20), f.clusters[0], f.clusters[2], kScanPrev, 0), FS_OK);
  EXPECT_EQ(h_->cur_cluster, f.clusters[1] + 2);  // channel 3, the last cluster to start by 08:20
}

// ---- Repeat numbers and record types --------------------------------------------------------

class RepeatSearch : public test::FileTest {
 protected:
  // Channel 0: a file at 08:00, two files starting in the same second 09:00:00 (repeat numbers
  // 0 and 1), and one at 09:30.
  void SetUp() override {
    FileTest::SetUp();
    test::kb::Disk disk = test::small_disk();
    disk.partitions[0].files = {file(at(8, 0), at(8, 10)), file(at(9, 0), at(9, 0, 30)),
                                file(at(9, 0), at(9, 10)), file(at(9, 30), at(9, 40))};
    start_ok({disk});
    h_ = open_handle();
  }

  static File file(uint32_t start, uint32_t end, uint8_t type = 0) {
    File f;
    f.start = start;
    f.end = end;
    f.clusters = 1;
    f.type = type;
    return f;
  }

  uint32_t first(int i) const { return report().files[size_t(i)].first_cluster; }

  FILEHANDLE* h_ = nullptr;
};

TEST_F(RepeatSearch, EqualStartSecondsAreToldApartByTheRepeatNumber) {
  ASSERT_NE(h_, nullptr);
  ASSERT_EQ(report().files[1].repeat_no, 0);
  ASSERT_EQ(report().files[2].repeat_no, 1);
  const struct {
    uint8_t hint;
    int file;
  } cases[] = {{0, 1}, {1, 2}, {2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.hint));
    ASSERT_EQ(file_goto_work_driver(h_, 0, at(9, 0), kScanNextFile, c.hint, 255, 255), FS_OK);
    EXPECT_EQ(h_->cur_cluster, first(c.file));
  }
  ASSERT_EQ(krt_file_goto_clus(h_, 0, 0, first(1)), FS_OK);
  ASSERT_EQ(krt_file_goto_next(h_, 0, 255, 255), FS_OK);
  EXPECT_EQ(h_->cur_cluster, first(2));
  ASSERT_EQ(krt_file_goto_next(h_, 0, 255, 255), FS_OK);
  EXPECT_EQ(h_->cur_cluster, first(3));
}

TEST_F(RepeatSearch, UnwantedTypesArePassedOver) {
  test::kb::Disk disk = test::small_disk();
  File last_repeat = file(at(9, 0), at(9, 0, 30), 0);
  last_repeat.repeat_no = 255;  // the next file in order starts a second later with repeat 0
  disk.partitions[0].files = {file(at(8, 0), at(8, 10), 1), last_repeat, file(at(9, 0, 1), at(9, 10), 1),
                              file(at(9, 30), at(9, 40), 2)};
  images_.clear();
  start_ok({disk});
  h_ = open_handle();
  ASSERT_NE(h_, nullptr);
  const uint32_t type_a = 1u << 1;
  ASSERT_EQ(file_goto_work_driver(h_, 0, at(9, 0), kScanNextFile, 255, type_a, 255), FS_OK);
  EXPECT_EQ(h_->cur_cluster, first(2));
  ASSERT_EQ(file_goto_work_driver(h_, 0, at(9, 20), kScanPrevFile, 0, type_a, 255), FS_OK);
  EXPECT_EQ(h_->cur_cluster, first(2));
  ASSERT_EQ(file_goto_work_driver(h_, 0, at(9, 5), kScanPrevFile, 0, type_a, 255), FS_OK);
  EXPECT_EQ(h_->cur_cluster, first(0));  // passes over the R file with repeat number 255
  EXPECT_EQ(file_goto_work_driver(h_, 0, at(9, 1), kScanNextFile, 0, 1u << 4, 255), FS_NO_EXIST_FILE);
  EXPECT_EQ(h_->cur_cluster, first(0));
  // Kind 2 gives the cluster whatever its type.
  ASSERT_EQ(file_goto_work_driver(h_, 0, at(9, 35), kScanNext, 0, type_a, 255), FS_OK);
  EXPECT_EQ(h_->cur_cluster, first(3));
  // A driver mask that selects no type finds nothing.
  EXPECT_EQ(file_goto_work_driver(h_, 0, at(9, 35), kScanNext, 0, 255, 1u << 3), FS_NO_EXIST_FILE);
}

// ---- Two drivers whose sections interleave in time ---------------------------------------

// Partition 0 records channels 0 and 1: 08:00, 08:20, 08:40, then its clock is set back and a
// second run records 07:00 (a collision, so a second time section). Partition 1 records
// channel 0 at 07:10, 08:10, 08:30 and 08:50. Each file is 10 minutes long.
class TimeOrder : public test::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    test::kb::Disk disk = test::kb::multi_partition_disk({300000, 300000}, 64);
    disk.payload.kind = test::kb::Payload::Kind::kNone;
    auto add = [](test::kb::Partition& p, uint8_t ch, uint32_t start, uint32_t run) {
      File f;
      f.channel = ch;
      f.start = start;
      f.end = test::kb::add_seconds(start, 600);
      f.run = run;
      p.files.push_back(f);
    };
    for (uint32_t start : {at(8, 0), at(8, 20), at(8, 40)}) {
      add(disk.partitions[0], 0, start, 0);
      add(disk.partitions[0], 1, start, 0);
    }
    add(disk.partitions[0], 0, at(7, 0), 1);
    for (uint32_t start : {at(7, 10), at(8, 10), at(8, 30), at(8, 50)}) add(disk.partitions[1], 0, start, 0);
    start_ok({disk});
  }

  // The expected listing of channel 0 in time order.
  std::vector<Spot> expected() const {
    const auto& p0 = report(0, 0).files;
    const auto& p1 = report(0, 1).files;
    return {{0, p0[6].first_cluster}, {1, p1[0].first_cluster}, {0, p0[0].first_cluster},
            {1, p1[1].first_cluster}, {0, p0[2].first_cluster}, {1, p1[2].first_cluster},
            {0, p0[4].first_cluster}, {1, p1[3].first_cluster}};
  }

  // Lists channel 0 of the day as the adapter's find does. Returns the files found, at most
  // `max` of them.
  static std::vector<Spot> list(FILEHANDLE* h, bool first_search, size_t max = 100) {
    std::vector<Spot> out;
    if (first_search && file_goto_work_driver(h, 0, day(), kScanNext, 0, 255, 255) != FS_OK) return out;
    while (out.size() < max) {
      const uint32_t c = krt_file_next_in_time(h, 0, day(), 0, 255);
      if (c == 0) break;
      EXPECT_EQ(c, h->cur_cluster);
      out.push_back(spot(h));
    }
    return out;
  }

  static uint32_t day() { return at(0, 0); }
};

TEST_F(TimeOrder, SectionsInterleave) {
  ASSERT_EQ(report(0, 0).collisions.size(), 1u);
  EXPECT_EQ(get_pdp(0, 0)->coll_count, 1u);
  int valid = 0;
  for (TimeSection* s = build_section_list(true); s; s = s->next) {
    ++valid;
    if (s->next) {
      EXPECT_LE(s->start_time, s->next->start_time);
    }
  }
  EXPECT_EQ(valid, 3);
}

TEST_F(TimeOrder, NextInTimeMergesBothDrivers) {
  FILEHANDLE* h = open_handle();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(list(h, true), expected());
  EXPECT_EQ(h->best_time, at(8, 50));
}

TEST_F(TimeOrder, SkipStartsAtTheNextFileStart) {
  FILEHANDLE* h = open_handle();
  ASSERT_NE(h, nullptr);
  const std::vector<Spot> all = expected();
  for (uint8_t skip : {0, 1}) {
    SCOPED_TRACE(int(skip));
    ASSERT_EQ(file_goto_work_driver(h, 0, at(8, 5), kScanNext, 0, 255, 255), FS_OK);
    // 08:05 lies inside partition 0's 08:00 file: without skip the listing starts with it.
    // With skip each section starts after the cluster its search found: partition 1 found the
    // start of its 08:10 file and goes on at 08:30, so 08:20 of partition 0 comes first.
    EXPECT_EQ(krt_file_next_in_time(h, 0, at(8, 5), skip, 255), all[skip ? 4 : 2].cluster);
    EXPECT_EQ(h->pdp->part, 0);
  }
}

TEST_F(TimeOrder, MergeCarriesOnAfterAnotherSearch) {
  FILEHANDLE* a = open_handle();
  FILEHANDLE* b = open_handle();
  ASSERT_NE(b, nullptr);
  std::vector<Spot> got = list(a, true, 3);
  ASSERT_EQ(got.size(), 3u);
  // Another handle's search reuses the sections' working fields in between.
  ASSERT_EQ(file_goto_work_driver(b, 1, at(8, 25), kScanNext, 0, 255, 255), FS_OK);
  EXPECT_EQ(krt_file_next_in_time(b, 1, at(8, 25), 0, 255), report(0, 0).files[3].first_cluster);
  const std::vector<Spot> rest = list(a, false);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, expected());
}

TEST_F(TimeOrder, DriverMaskAndChannelsSelect) {
  FILEHANDLE* h = open_handle();
  ASSERT_NE(h, nullptr);
  get_pdp(0, 1)->type = 2;  // partition 1 becomes a driver of type 2
  EXPECT_EQ(file_goto_work_driver(h, 0, day(), kScanNext, 0, 255, 1u << 0), FS_OK);
  std::vector<Spot> only_type0;
  for (uint32_t c; (c = krt_file_next_in_time(h, 0, day(), 0, 1u << 0)) != 0;) only_type0.push_back(spot(h));
  std::vector<Spot> want;
  for (const Spot& s : expected()) {
    if (s.part == 0) want.push_back(s);
  }
  EXPECT_EQ(only_type0, want);
  get_pdp(0, 1)->type = 0;
}

TEST_F(TimeOrder, BrokenSectionsStayInsideTheirArrays) {
  FILEHANDLE* h = open_handle();
  ASSERT_NE(h, nullptr);
  DriverParam& p = *get_pdp(0, 1);
  const uint32_t count = p.coll_count;
  p.coll_count = 100000;  // more sections than the array holds
  p.sections[5] = TimeSection{&p, nullptr, at(8, 0), at(9, 0), p.total_clus + 100, p.total_clus + 900, 0, 0, 0};
  EXPECT_EQ(file_goto_work_driver(h, 0, day(), kScanNext, 0, 255, 255), FS_OK);
  size_t n = 0;
  while (krt_file_next_in_time(h, 0, day(), 0, 255) != 0) ++n;
  EXPECT_EQ(n, expected().size());
  p.coll_count = count;
  p.sections[5] = TimeSection{&p, nullptr, 0, 0, 0, 0, 0, 0, 0};
}

}  // namespace
}  // namespace krt
