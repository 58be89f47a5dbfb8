// Attaching recorder disks, the sector hooks and the direct transfers.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "krt/disk.h"
#include "krt/disk_io.h"
#include "test_support.h"

namespace krt {
namespace {

using test::attach_only;
using test::TempImage;

class DiskTest : public test::LibraryTest {};

int open_fd_count() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dirent* e = ::readdir(dir)) count += e->d_name[0] != '.';
  ::closedir(dir);
  return count;
}

// Six candidates, recorder disks at positions 0, 3 and 5; position 4 does not exist.
struct SixCandidates {
  std::vector<std::unique_ptr<TempImage>> images;
  std::vector<std::string> paths;
  SixCandidates() {
    for (int i = 0; i < 6; ++i) {
      images.push_back(std::make_unique<TempImage>(100 + i));
      if (i == 0 || i == 3 || i == 5) images.back()->tag_krt();
      paths.push_back(i == 4 ? images.back()->path() + ".missing" : images.back()->path());
    }
  }
};

TEST_F(DiskTest, AttachesRecorderDisksDenselyInCandidateOrder) {
  SixCandidates c;
  ASSERT_EQ(attach_only(c.paths), 3);
  DiskInfo info{};
  EXPECT_EQ(get_disk_info(&info), 3);
  EXPECT_EQ(info.ide_port, 4);
  EXPECT_EQ(info.ide_mask, 0u);
  EXPECT_EQ(info.ide_bad, 0u);
  EXPECT_EQ(info.cap[0], 100u);
  EXPECT_EQ(info.cap[1], 103u);
  EXPECT_EQ(info.cap[2], 105u);
  const auto numbers = drive_numbers();
  EXPECT_EQ(numbers[0], 0);
  EXPECT_EQ(numbers[1], 3);
  EXPECT_EQ(numbers[2], 5);
  EXPECT_EQ(numbers[3], -1);
  EXPECT_EQ(disk_source(1), c.paths[3]);
  EXPECT_EQ(disk_source(3), "");
}

TEST_F(DiskTest, NoRecorderDiskGivesAnEmptyTable) {
  TempImage plain(10);
  EXPECT_EQ(attach_only({plain.path(), "/nonexistent/disk.img"}), 0);
  uint8_t buf[kSectorBytes];
  EXPECT_EQ(disk_read_sectors(0, 1, 0, 0, buf), -1);
}

TEST_F(DiskTest, StopsAttachingAtThirtyTwoDisks) {
  std::vector<std::unique_ptr<TempImage>> images;
  std::vector<std::string> paths;
  for (int i = 0; i < kMaxDisks + 1; ++i) {
    images.push_back(std::make_unique<TempImage>(8));
    images.back()->tag_krt();
    paths.push_back(images.back()->path());
  }
  EXPECT_EQ(attach_only(paths), kMaxDisks);
  EXPECT_EQ(count_attached_disks(), kMaxDisks);
  EXPECT_EQ(disk_source(kMaxDisks - 1), paths[kMaxDisks - 1]);
}

TEST_F(DiskTest, CountingAndReattachingLeakNoHandles) {
  SixCandidates c;
  const int before = open_fd_count();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(count_attached_disks(), 0);  // nothing configured yet
  attach_only(c.paths);
  const int attached = open_fd_count();
  EXPECT_EQ(attached, before + 3);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(count_attached_disks(), 3);
  for (int i = 0; i < 5; ++i) attach_disks();
  EXPECT_EQ(open_fd_count(), attached);
  detach_disks();
  EXPECT_EQ(open_fd_count(), before);
}

TEST_F(DiskTest, CandidatesComeFromImagesThenTheEnvironment) {
  DiskSources sources;
  sources.images = {"/a.img", "/b.img"};
  sources.program_folder = false;
  sources.block_devices = false;
  set_disk_sources(sources);
  ::setenv("VENDREL_DISKS", "/c.img::/d.img:", 1);
  EXPECT_EQ(disk_candidates(), (std::vector<std::string>{"/a.img", "/b.img", "/c.img", "/d.img"}));
  set_disk_candidates({"/e.img"});
  EXPECT_EQ(disk_candidates(), (std::vector<std::string>{"/e.img", "/c.img", "/d.img"}));
  ::unsetenv("VENDREL_DISKS");
}

TEST_F(DiskTest, ReadHookReadsWholeSectorsAndRefusesShortReads) {
  TempImage image(4);
  image.tag_krt();
  uint8_t pattern[kSectorBytes];
  std::memset(pattern, 0x5a, sizeof pattern);
  image.write(3, pattern, sizeof pattern);
  ASSERT_EQ(attach_only({image.path()}), 1);

  uint8_t buf[2 * kSectorBytes];
  EXPECT_EQ(disk_read_sectors(0, 1, 3, 0, buf), 0);
  EXPECT_EQ(std::memcmp(buf, pattern, kSectorBytes), 0);
  EXPECT_EQ(disk_read_sectors(0, 2, 3, 0, buf), -1);  // runs past the end: short read
  EXPECT_EQ(disk_read_sectors(0, 1, 0, 1, buf), -1);  // sector 2^32
  EXPECT_EQ(disk_read_sectors(1, 1, 0, 0, buf), -1);  // no such disk
  EXPECT_EQ(disk_write_sectors(0, 1, 3, 0, buf), 0);  // accepted and dropped
}

TEST_F(DiskTest, DirectReadStampsTheDiskAndReportsFailures) {
  TempImage image(4);
  image.tag_krt();
  ASSERT_EQ(attach_only({image.path()}), 1);
  static std::vector<std::string> events;
  events.clear();
  set_event_hook([](const char* name, const char* text) { events.push_back(std::string(name) + "|" + text); });

  uint8_t buf[kSectorBytes];
  set_disk_standby(0, 0);  // last access 0
  EXPECT_EQ(access_stamp(0).last_ms, 0u);
  EXPECT_EQ(disk_io_read(0, 1, 2, buf), 0);
  EXPECT_NE(access_stamp(0).last_ms, 0u);
  EXPECT_TRUE(events.empty());

  EXPECT_EQ(disk_io_read(0, 1, 4, buf), -1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "StorageDeviceError|Read, /dev/sd0a, 4");
  EXPECT_EQ(disk_io_write(0, 1, 4, buf), 0);  // the default writer never fails
}

TEST_F(DiskTest, EventTextIsCutAtSixtySevenCharacters) {
  static std::string text;
  set_event_hook([](const char*, const char* t) { text = t; });
  fs_event("DiskOver", "%s", std::string(100, 'x').c_str());
  EXPECT_EQ(text, std::string(kEventTextChars, 'x'));
  set_event_hook(nullptr);
  EXPECT_EQ(fs_event("DiskOver", "dropped"), 0);
}

TEST_F(DiskTest, WakeUpCallbacksRunOnlyForADiskWithAnExpiredTimeout) {
  static int wakes;
  wakes = 0;
  set_wakeup_callbacks([](uint32_t) { ++wakes; }, [] {});
  stamp_disk_access(0);
  disk_wake_check(0);  // no timeout
  EXPECT_EQ(wakes, 0);
  set_disk_standby(0, 1);  // one minute, last access long ago
  disk_wake_check(0);
  EXPECT_EQ(wakes, 1);
  stamp_disk_access(0);
  disk_wake_check(0);  // accessed just now
  EXPECT_EQ(wakes, 1);
  set_wakeup_callbacks(nullptr, nullptr);
}

// A driver for partition 0 of disk 0 at sector 1,000: metadata below 1,000 + 2,000, reserved
// clusters up to 1,000 + 2,000 + 4 × 8, recording clusters up to 1,000 + 2,000 + 100 × 8.
void mount_test_driver(uint32_t err_state = 0) {
  DriverParam& p = *driver_slot(0);
  p.type = 0;
  p.dev = 0;
  p.part = 0;
  p.start_sector = 1000;
  p.data_off = 2000;
  p.sector_per_clus = 8;
  p.total_clus = 100;
  p.rev_clus = 4;
  p.err_state = err_state;
}

struct ErrorCase {
  const char* name;
  uint64_t sector;
  int kind;
  uint32_t err_state;       // the driver's error status before the report
  const char* warning;      // expected log text, "" = none
  bool marked;              // masks set and S = 15
};

class DiskErrorTest : public DiskTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(DiskErrorTest, ClassifiesBySectorAgainstPartitionZero) {
  const ErrorCase& c = GetParam();
  mount_test_driver(c.err_state);
  test::LogCapture log;
  report_disk_error(0, c.sector, c.kind);
  const std::string text = log.text();
  if (*c.warning) {
    EXPECT_NE(text.find(c.warning), std::string::npos) << text;
  } else {
    EXPECT_EQ(text, "");
  }
  const DiskErrorReport r = disk_error_report();
  EXPECT_EQ(r.bad_mask, c.marked ? 1u : 0u);
  EXPECT_EQ(r.read_mask, c.marked && c.kind == kDiskErrorRead ? 1u : 0u);
  EXPECT_EQ(r.write_mask, c.marked && c.kind == kDiskErrorWrite ? 1u : 0u);
  EXPECT_EQ(r.sector[0], c.marked ? c.sector : 0u);
  EXPECT_EQ(driver_slot(0)->err_state, c.marked ? kErrStateDiskError : c.err_state);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskErrorTest,
    ::testing::Values(
        ErrorCase{"IndexArea", 1500, kDiskErrorRead, 0, "FSWarn disk access io error : disk 0, offset 1500,  error 2\n", true},
        ErrorCase{"ReservedCluster", 3031, kDiskErrorWrite, 0, "disk access io error : disk 0, offset 3031,  error 1", true},
        ErrorCase{"FirstRecordingCluster", 3032, kDiskErrorRead, 0, "disk access io error", false},
        ErrorCase{"LastRecordingSector", 3799, kDiskErrorRead, 0, "disk access io error", false},
        ErrorCase{"PastTheDataArea", 3800, kDiskErrorRead, 0, "disk access parameter error : disk 0, offset 3800,  error 2", false},
        ErrorCase{"DriverAlreadyInError", 1500, kDiskErrorRead, 15, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiskTest, ErrorWithoutADriverOnlyRaisesTheEvent) {
  static int events;
  events = 0;
  set_event_hook([](const char*, const char*) { ++events; });
  test::LogCapture log;
  report_disk_error(0, 1500, kDiskErrorRead);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(disk_error_report().bad_mask, 0u);
}

}  // namespace
}  // namespace krt
