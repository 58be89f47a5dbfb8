// The "/mnt" adapter over built images: listings, reads, positions, bad paths, the
// work-directory calendar, disk space, hooks, and a disk image that never changes.
#include "krt/adapter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "adapter_support.h"
#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/file.h"
#include "krt/lock.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

using test::kb::Disk;
using test::kb::File;
using test::kb::FilePlacement;
namespace kb = test::kb;

uint32_t t(int y, int mo, int d, int h, int mi, int s = 0) { return kb::pack_time(y, mo, d, h, mi, s); }

File rec(uint8_t channel, uint32_t start, int minutes) {
  File f;
  f.channel = channel;
  f.start = start;
  f.end = kb::add_seconds(start, minutes * 60);
  return f;
}

// Channel 1 ("002") on 2010-03-05 with a file from the evening before running into the day, a
// file with a two-sector header, one with an odd sector count, a picture file of type A and a
// file of the next day; channel 0 files in between. 64 sectors per cluster, pattern payload.
Disk channel_day_disk(uint64_t sectors = 600000) {
  Disk disk = kb::single_partition_disk(sectors, 64);
  std::vector<File>& files = disk.partitions[0].files;
  files.push_back(rec(1, t(2010, 3, 4, 23, 50), 20));  // 0: past midnight
  files.push_back(rec(0, t(2010, 3, 5, 8, 0), 15));    // 1
  files.push_back(rec(1, t(2010, 3, 5, 8, 0), 15));    // 2
  files.push_back(rec(1, t(2010, 3, 5, 8, 15), 15));   // 3: header
  files.back().header_sectors = 2;
  files.push_back(rec(0, t(2010, 3, 5, 8, 20), 15));   // 4
  files.push_back(rec(1, t(2010, 3, 5, 8, 30), 15));   // 5: odd sector count
  files.back().end_length = 33;
  files.push_back(rec(1, t(2010, 3, 5, 9, 0), 5));     // 6: picture, type A
  files.back().av = 0;
  files.back().type = 1;
  files.push_back(rec(1, t(2010, 3, 6, 0, 0), 15));    // 7: the next day
  return disk;
}

const std::string kDay = "/mnt/idea0/2010-03-05/002/";

class Adapter : public test::AdapterTest {
 protected:
  const File& file(size_t i) const { return described_.partitions[0].files[i]; }
  const FilePlacement& placed(size_t i, size_t d = 0, size_t p = 0) const { return report(d, p).files[i]; }
  std::string path(size_t i, const std::string& dir = kDay) const { return dir + test::expected_name(file(i), placed(i)); }

  void up_channel_day() {
    described_ = channel_day_disk();
    up({described_});
  }

  Disk described_;
};

TEST_F(Adapter, ListsAChannelDayInStartTimeOrder) {
  up_channel_day();
  const std::vector<FSFindData> listing = test::list(kDay + "*");
  const std::vector<size_t> expected = {2, 3, 5, 6};
  ASSERT_EQ(listing.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    const size_t i = expected[k];
    EXPECT_EQ(listing[k].name, test::expected_name(file(i), placed(i))) << k;
    EXPECT_EQ(listing[k].size, test::expected_content(placed(i)).size()) << k;
    EXPECT_EQ(listing[k].time_write, int64_t(time_to_time_t(file(i).start))) << k;
    EXPECT_EQ(listing[k].attrib, 0u);
  }
  EXPECT_EQ(std::string(listing[1].name).substr(17), "[R][@" + [&] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", placed(3).first_cluster);
    return std::string(hex);
  }() + "][" + std::to_string(placed(3).repeat_no) + "].h264");
  EXPECT_NE(std::string(listing[3].name).find("[A]"), std::string::npos);
  EXPECT_NE(std::string(listing[3].name).find(".jpg"), std::string::npos);

  // The file that ran past midnight belongs to the day before; the next day has its own.
  EXPECT_EQ(test::names(test::list("/mnt/idea0/2010-03-04/002/*")),
            std::vector<std::string>{test::expected_name(file(0), placed(0))});
  EXPECT_EQ(test::names(test::list("/mnt/idea0/2010-03-06/002/*")),
            std::vector<std::string>{test::expected_name(file(7), placed(7))});
  EXPECT_TRUE(test::list("/mnt/idea0/2010-03-07/002/*").empty());
  EXPECT_TRUE(test::list("/mnt/idea0/2010-03-05/003/*").empty());

  // The same through CFSFileFind, which routes "/mnt" to the adapter.
  CFSFileFind find;
  ASSERT_TRUE(find.FindFile((kDay + "*").c_str()));
  EXPECT_EQ(find.GetRoot(), kDay);
  EXPECT_EQ(find.GetFileName(), test::expected_name(file(2), placed(2)));
  EXPECT_TRUE(find.FindNextFile());
  find.Close();
}

TEST_F(Adapter, ANameDependsOnTheDiskAlone) {
  // A one-cluster recording whose stored end time equals its start lists as ending one second
  // later: before its end time was looked up, after, and once the cache forgot its sector.
  described_ = channel_day_disk();
  File& instant = described_.partitions[0].files[2];
  instant.end = instant.start;
  instant.clusters = 1;
  up({described_});
  File listed = instant;
  listed.end = time_add(instant.start, 1);
  const std::string name = test::expected_name(listed, placed(2));
  const auto first_listed = [&] { return test::names(test::list(kDay + "*")).at(0); };
  EXPECT_EQ(first_listed(), name);
  uint32_t end = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(library_lock());
    ASSERT_EQ(get_dir_item_time1(*get_pdp(0, 0), placed(2).first_cluster, end), FS_OK);
  }
  EXPECT_EQ(end, listed.end);
  EXPECT_EQ(first_listed(), name) << "after the end time was looked up";
  {
    std::lock_guard<std::recursive_mutex> hold(library_lock());
    binit();
  }
  EXPECT_EQ(first_listed(), name) << "after the cache dropped the sector";
}

TEST_F(Adapter, EveryListedNameReadsAsItsRecording) {
  up_channel_day();
  for (const char* day : {"2010-03-04", "2010-03-05", "2010-03-06"}) {
    const std::string dir = std::string("/mnt/idea0/") + day + "/002/";
    for (const FSFindData& entry : test::list(dir + "*")) {
      size_t i = 0;
      while (test::expected_name(file(i), placed(i)) != entry.name) ASSERT_LT(++i, described_.partitions[0].files.size());
      const std::vector<uint8_t> want = test::expected_content(placed(i));
      for (uint32_t chunk : {32768u, 4096u, 1000u, 40960u, 200000u}) {
        bool ok = false;
        const std::vector<uint8_t> got = test::read_all(dir + entry.name, chunk, ok);
        ASSERT_TRUE(ok) << entry.name;
        EXPECT_TRUE(got == want) << entry.name << " chunk " << chunk << ": " << got.size() << " of " << want.size();
      }
      CFSFile f;
      ASSERT_TRUE(f.Open((dir + entry.name).c_str(), CFSFile::modeRead));
      EXPECT_EQ(f.GetLength(), entry.size);
      EXPECT_EQ(f.GetPosition(), 0u);
    }
  }
}

TEST_F(Adapter, NamesWithoutAClusterOpenByTime) {
  up_channel_day();
  const std::string by_time = kDay + "08.15.00-08.30.00[R].h264";
  bool ok = false;
  EXPECT_TRUE(test::read_all(by_time, 4096, ok) == test::expected_content(placed(3)));
  EXPECT_TRUE(ok);
  // A cluster below the first recording cluster counts as none.
  EXPECT_TRUE(test::read_all(kDay + "08.00.00-08.15.00[X][@1][" + std::to_string(placed(2).repeat_no) + "].h264", 4096,
                             ok) == test::expected_content(placed(2)));
  EXPECT_TRUE(ok);
}

TEST_F(Adapter, PositionsHideTheHeader) {
  up_channel_day();
  const FileOps* ops = adapter_file_ops();
  FSHandle file = ops->open(path(3).c_str(), "rb");
  ASSERT_NE(file, nullptr);
  auto* h = static_cast<FILEHANDLE*>(file);
  const int32_t length = int32_t(placed(3).size_sectors >> 1) * 1024;
  EXPECT_EQ(ops->tell(file), 0);
  EXPECT_EQ(h->position, 1024u);
  EXPECT_EQ(h->base_offset, 1024u);
  DirItem first{};
  ASSERT_EQ(get_dir_item_info(*get_pdp(0, 0), placed(3).first_cluster, first), FS_OK);
  EXPECT_EQ(first.hdr_sectors, 2);  // remembered in the cached directory item
  ASSERT_EQ(ops->seek(file, 0, 2), 0);
  EXPECT_EQ(ops->tell(file), length - 1024);
  EXPECT_EQ(ops->seek(file, 1, 1), -1);    // past the end
  EXPECT_EQ(ops->seek(file, -1, 0), -1);   // before the start
  EXPECT_EQ(ops->seek(file, 0, 3), -1);    // no such origin
  EXPECT_EQ(ops->tell(file), length - 1024);

  // The last 100 bytes for a request of 4096, then nothing.
  std::vector<uint8_t> buf(65536);
  ASSERT_EQ(ops->seek(file, -100, 1), 0);
  EXPECT_EQ(ops->read(buf.data(), 1, 4096, file), 100u);
  EXPECT_EQ(ops->read(buf.data(), 1, 4096, file), 0u);
  EXPECT_EQ(ops->read(buf.data(), 16, 10, file), 0u);

  // 80 sectors at an aligned position go straight to the file layer; 40,000 bytes do not.
  const std::vector<uint8_t> want = test::expected_content(placed(3));
  ASSERT_EQ(ops->seek(file, 0, 0), 0);
  EXPECT_EQ(ops->read(buf.data(), 1, 40960, file), 40960u);
  EXPECT_EQ(h->buffer_pos, kAdapterBufferEmpty);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 40960, want.begin()));
  ASSERT_EQ(ops->seek(file, 0, 0), 0);
  EXPECT_EQ(ops->read(buf.data(), 4, 10000, file), 10000u);
  EXPECT_NE(h->buffer_pos, kAdapterBufferEmpty);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 40000, want.begin()));
  // Whole elements are counted; the bytes of a part element are consumed all the same (fread).
  ASSERT_EQ(ops->seek(file, length - 1024 - 10, 0), 0);
  EXPECT_EQ(ops->read(buf.data(), 7, 2, file), 1u);
  EXPECT_EQ(ops->tell(file), length - 1024);
  EXPECT_EQ(ops->close(file), 0);
}

TEST_F(Adapter, BadPathsFailCleanly) {
  up_channel_day();
  const FilePlacement& p = placed(2);
  const std::string name = test::expected_name(file(2), p);
  char hex[16];
  const std::string stem = kDay + "08.00.00-08.15.00[R][@";
  const auto with_cluster = [&](uint32_t c) {
    std::snprintf(hex, sizeof hex, "%x", c);
    return stem + hex + "][" + std::to_string(p.repeat_no) + "].h264";
  };
  const uint32_t total = report().params.total_clus;
  const std::string bad[] = {
      kDay + name.substr(0, name.size() - 5) + ".avi",
      "/mnt/idea3/2010-03-05/002/" + name,            // no such partition
      "/mnt/ideb0/2010-03-05/002/" + name,            // no such disk
      with_cluster(total),                            // beyond the partition
      with_cluster(total + 1000),
      with_cluster(0xFFFFFFFF),
      with_cluster(p.first_cluster + 1),              // a later cluster of the file
      with_cluster(placed(1).first_cluster),          // a first cluster of another channel
      "/mnt/idea0/2010-03-05/003/" + name,            // the file is not of this channel
      "/mnt/idea0/2010-03-05/0002/" + name,
      "/mnt/idea0/2010-03-05/002/" + std::string(300, '0') + name,
      kDay + "08.00.00-08.15.00.h264",
      "/mnt/idea0/WorkDirectory/x.h264",
      "/mnt/idea0/2010-03-05/002",
      "/mnt",
      "",
  };
  const FileOps* ops = adapter_file_ops();
  for (const std::string& path : bad) {
    CFSFile f;
    EXPECT_FALSE(f.Open(path.c_str(), CFSFile::modeRead)) << path;
    EXPECT_EQ(ops->open(path.c_str(), "rb"), nullptr) << path;
  }
  // A well-formed path the file layer refuses says why: errno and a warning line.
  for (const std::string& path : {with_cluster(total), with_cluster(p.first_cluster + 1),
                                  with_cluster(placed(1).first_cluster), "/mnt/idea0/2010-03-05/003/" + name}) {
    test::LogCapture log;
    errno = 0;
    EXPECT_EQ(ops->open(path.c_str(), "rb"), nullptr) << path;
    EXPECT_EQ(errno, ENOENT) << path;
    EXPECT_NE(log.text().find("recording " + path + " not opened: "), std::string::npos) << log.text();
  }
  EXPECT_EQ(ops->open(nullptr, "rb"), nullptr);
  EXPECT_EQ(ops->open(path(2).c_str(), nullptr), nullptr);
  for (const std::string pattern : {"/mnt/idea3/2010-03-05/002/*", "/mnt/idea0/2010-03-05/065/*",
                                    "/mnt/idea0/2010-13-05/002/*", "/mnt/idea0/2010-03-05/*", "/mnt/*"}) {
    FSFindData data{};
    EXPECT_EQ(ops->find_first(pattern.c_str(), &data), VFS_FIND_NONE) << pattern;
  }
  // Handles that are not the adapter's: refused, never followed.
  int local = 0;
  uint8_t buf[16];
  for (void* handle : {static_cast<void*>(&local), static_cast<void*>(reinterpret_cast<char*>(file_handle_slot(3)) + 4)}) {
    EXPECT_EQ(ops->read(buf, 1, sizeof buf, handle), 0u);
    EXPECT_EQ(ops->seek(handle, 0, 0), -1);
    EXPECT_EQ(ops->tell(handle), -1);
    EXPECT_EQ(ops->flush(handle), -1);
    EXPECT_EQ(ops->close(handle), 0);
    EXPECT_EQ(ops->find_next(reinterpret_cast<FSFindHandle>(handle), nullptr), -1);
    EXPECT_EQ(ops->find_close(reinterpret_cast<FSFindHandle>(handle)), -1);
  }
  EXPECT_EQ(file_handles_check(), "");
  // Nothing was left open.
  for (int i = 0; i < kMaxFileHandles; ++i) EXPECT_EQ(file_handle_slot(i)->file_flag, kFileFree) << i;
}

TEST_F(Adapter, EachPartitionListsOnlyItsOwnFiles) {
  Disk first = kb::multi_partition_disk({300000, 300000}, 64);
  for (int h : {8, 9, 10}) first.partitions[0].files.push_back(rec(1, t(2010, 3, 5, h, 0), 15));
  for (int h : {8, 9}) first.partitions[1].files.push_back(rec(1, t(2010, 3, 5, h, 30), 15));
  first.partitions[1].files.push_back(rec(1, t(2010, 3, 5, 10, 0), 15));  // same start as on partition 0
  Disk second = kb::single_partition_disk(300000, 64);
  second.id = 1;
  second.partitions[0].files.push_back(rec(1, t(2010, 3, 5, 8, 10), 15));
  up({first, second});
  const struct { std::string dir; size_t disk, part, files; } cases[] = {
      {"/mnt/idea0/2010-03-05/002/", 0, 0, 3}, {"/mnt/idea1/2010-03-05/002/", 0, 1, 3}, {"/mnt/ideb0/2010-03-05/002/", 1, 0, 1}};
  for (const auto& c : cases) {
    const std::vector<FSFindData> listing = test::list(c.dir + "*");
    const std::vector<FilePlacement>& placements = report(c.disk, c.part).files;
    const std::vector<File>& described = (c.disk == 0 ? first : second).partitions[c.part].files;
    ASSERT_EQ(listing.size(), c.files) << c.dir;
    for (size_t i = 0; i < c.files; ++i) {
      EXPECT_EQ(listing[i].name, test::expected_name(described[i], placements[i])) << c.dir;
      CFSFile f;
      ASSERT_TRUE(f.Open((c.dir + listing[i].name).c_str(), CFSFile::modeRead)) << c.dir << listing[i].name;
      EXPECT_EQ(f.GetLength(), listing[i].size) << c.dir << listing[i].name;
      bool ok = false;
      EXPECT_TRUE(test::read_all(c.dir + listing[i].name, 32768, ok) == test::expected_content(placements[i]));
    }
  }
  // By time, a name opens the file of its own partition even when another starts at that moment.
  bool ok = false;
  EXPECT_TRUE(test::read_all("/mnt/idea1/2010-03-05/002/10.00.00-10.15.00[R].h264", 4096, ok) ==
              test::expected_content(report(0, 1).files[2]));
  EXPECT_TRUE(ok);
}

TEST_F(Adapter, WorkDirectoryCalendar) {
  up_channel_day();
  const FileOps* ops = adapter_file_ops();
  FSHandle dir = ops->open("/mnt/idea0/WorkDirectory", "rb");
  ASSERT_NE(dir, nullptr);
  std::vector<uint8_t> block(kWorkCalendarBytes + 1);
  EXPECT_EQ(ops->read(block.data(), 1, 100, dir), 0u);
  EXPECT_EQ(ops->read(block.data(), 1, kWorkCalendarBytes + 1, dir), 0u);
  EXPECT_EQ(ops->read(block.data(), kWorkCalendarBytes, 1, dir), 1u);
  EXPECT_EQ(work_calendar_days(block.data(), 2010, 3), (1u << 4) | (1u << 5) | (1u << 6));
  EXPECT_EQ(work_calendar_days(block.data(), 2010, 4), 0u);
  EXPECT_EQ(work_calendar_days(block.data(), 2064, 3), 0u);
  EXPECT_EQ(ops->read(block.data(), kWorkCalendarBytes, 1, dir), 0u);  // read once only
  EXPECT_EQ(ops->close(dir), 0);
  EXPECT_EQ(ops->open("/mnt/idea2/WorkDirectory", "rb"), nullptr);

  CFSFile f;
  ASSERT_TRUE(f.Open("/mnt/idea0/WorkDirectory", CFSFile::modeRead));
  EXPECT_EQ(f.Read(block.data(), kWorkCalendarBytes), kWorkCalendarBytes);
}

TEST_F(Adapter, DiskSpaceAndTheSlotsThatDoNothing) {
  up_channel_day();
  const DriverParam& p = *get_pdp(0, 0);
  uint64_t to_caller = 0, total = 0, free = 0;
  ASSERT_TRUE(FSGetDiskSpace("/mnt/idea0/2010-03-05", &to_caller, &total, &free));
  EXPECT_EQ(total, uint64_t(p.total_clus) * 64 * 512);
  EXPECT_EQ(free, uint64_t(p.total_clus - p.current_cluster) * 64 * 512);
  EXPECT_EQ(to_caller, free);
  EXPECT_FALSE(FSGetDiskSpace("/mnt/idea1", &to_caller, &total, &free));
  EXPECT_FALSE(FSGetDiskSpace("/mnt", &to_caller, &total, &free));

  const FileOps* ops = adapter_file_ops();
  EXPECT_EQ(ops->access(path(2).c_str(), 0), 0);
  EXPECT_EQ(ops->remove(path(2).c_str()), -1);
  EXPECT_EQ(ops->rename(path(2).c_str(), path(3).c_str()), 0) << "the item is written back as it stands";
  EXPECT_EQ(ops->make_dir("/mnt/idea0/x"), -1);
  EXPECT_EQ(ops->remove_dir(kDay.c_str()), -1);
  CFSFile f;
  ASSERT_TRUE(f.Open(path(2).c_str(), CFSFile::modeRead));
  char line[16];
  EXPECT_EQ(f.ReadString(line, sizeof line), nullptr);
  EXPECT_EQ(f.WriteString("x"), -1);
  EXPECT_EQ(f.Write("x", 1), 0u);
  // A handle for the writer opens and takes bytes; the default write hook discards them.
  CFSFile w;
  ASSERT_TRUE(w.Open((kDay + "11.00.00-11.00.00[R].h264").c_str(), CFSFile::modeWrite | CFSFile::modeCreate));
  EXPECT_EQ(w.Write("abc", 3), 3u);
  w.Close();
  EXPECT_EQ(file_handles_check(), "");
}

TEST_F(Adapter, ImageNeverChangesAndReadOnlyImagesWork) {
  described_ = channel_day_disk(40000);
  attach({described_});
  ASSERT_EQ(::chmod(test::MountTest::path().c_str(), 0444), 0);
  const std::string before = images_[0]->file.contents();
  volume_startup();
  for (const FSFindData& entry : test::list(kDay + "*")) {
    bool ok = false;
    test::read_all(kDay + entry.name, 4096, ok);
    EXPECT_TRUE(ok) << entry.name;
  }
  EXPECT_EQ(test::list(kDay + "*").size(), 4u);
  CFSFile dir;
  ASSERT_TRUE(dir.Open("/mnt/idea0/WorkDirectory", CFSFile::modeRead));
  std::vector<uint8_t> block(kWorkCalendarBytes);
  EXPECT_EQ(dir.Read(block.data(), kWorkCalendarBytes), kWorkCalendarBytes);
  EXPECT_TRUE(images_[0]->file.contents() == before);
}

TEST_F(Adapter, RerunsReplaceTheRegistrationAndRetireOpenHandles) {
  up_channel_day();
  const FileOps* ops = adapter_file_ops();
  FSHandle old = ops->open(path(2).c_str(), "rb");
  ASSERT_NE(old, nullptr);
  FSFindData data{};
  const FSFindHandle old_find = ops->find_first((kDay + "*").c_str(), &data);
  ASSERT_NE(old_find, VFS_FIND_NONE);
  for (int i = 0; i < 40; ++i) volume_startup();
  EXPECT_EQ(FindFileOps("/mnt/idea0")->open, ops->open);
  ASSERT_TRUE(RegisterFileOps("/spare", ops));  // the table did not fill up
  EXPECT_TRUE(RegisterFileOps("/spare", nullptr));

  uint8_t buf[512];
  EXPECT_EQ(ops->read(buf, 1, sizeof buf, old), 0u);
  EXPECT_EQ(ops->tell(old), -1);
  EXPECT_EQ(ops->seek(old, 0, 0), -1);
  EXPECT_EQ(ops->close(old), 0);
  EXPECT_EQ(ops->find_next(old_find, &data), -1);
  EXPECT_EQ(ops->find_close(old_find), -1);
  EXPECT_EQ(test::list(kDay + "*").size(), 4u);
}

TEST_F(Adapter, DiskErrorEndsEveryOperation) {
  up_channel_day();
  const FileOps* ops = adapter_file_ops();
  FSHandle file = ops->open(path(2).c_str(), "rb");
  ASSERT_NE(file, nullptr);
  FSFindData data{};
  const FSFindHandle find = ops->find_first((kDay + "*").c_str(), &data);
  ASSERT_NE(find, VFS_FIND_NONE);
  DriverParam& p = *get_pdp(0, 0);
  p.err_state = kErrStateDiskError;
  uint8_t buf[4096];
  EXPECT_EQ(ops->read(buf, 1, sizeof buf, file), 0u);
  EXPECT_EQ(ops->seek(file, 0, 2), -1);
  EXPECT_EQ(ops->tell(file), -1);
  EXPECT_EQ(ops->flush(file), 0);
  EXPECT_EQ(ops->find_next(find, &data), -1);
  EXPECT_EQ(ops->open(path(3).c_str(), "rb"), nullptr);
  EXPECT_EQ(ops->open("/mnt/idea0/WorkDirectory", "rb"), nullptr);
  uint64_t space[3];
  EXPECT_EQ(ops->disk_space("/mnt/idea0", &space[0], &space[1], &space[2]), -1);
  EXPECT_EQ(ops->find_close(find), -1);  // reported, and closed all the same
  // The driver table moves on without the disk: the file's record is freed by its close.
  bump_fs_change();
  EXPECT_EQ(ops->close(file), 0);
  for (int i = 0; i < kMaxFileHandles; ++i) EXPECT_EQ(file_handle_slot(i)->file_flag, kFileFree) << i;
  p.err_state = 0;
}

TEST_F(Adapter, AFullHandleTableRefusesCleanly) {
  up_channel_day();
  const FileOps* ops = adapter_file_ops();
  FSHandle dir = ops->open("/mnt/idea0/WorkDirectory", "rb");
  ASSERT_NE(dir, nullptr);
  std::vector<FSHandle> open;
  for (FSHandle f; (f = ops->open(path(2).c_str(), "rb")) != nullptr;) open.push_back(f);
  EXPECT_EQ(open.size(), size_t(kMaxFileHandles - 1));
  std::vector<uint8_t> block(kWorkCalendarBytes);
  EXPECT_EQ(ops->read(block.data(), 1, block.size(), dir), 0u);  // the calendar needs a free slot
  FSFindData data{};
  EXPECT_EQ(ops->find_first((kDay + "*").c_str(), &data), VFS_FIND_NONE);
  EXPECT_EQ(ops->close(open.back()), 0);
  open.pop_back();
  EXPECT_EQ(ops->read(block.data(), 1, block.size(), dir), block.size());
  for (FSHandle f : open) EXPECT_EQ(ops->close(f), 0);
  EXPECT_EQ(ops->close(dir), 0);
  EXPECT_EQ(file_handles_check(), "");
}

int g_enters = 0;
int g_leaves = 0;
void counting_enter() {
  library_lock().lock();
  ++g_enters;
}
void counting_leave() {
  ++g_leaves;
  library_lock().unlock();
}

TEST_F(Adapter, SlotsRunBetweenTheHooks) {
  up_channel_day();
  g_enters = g_leaves = 0;
  set_library_hooks(nullptr, nullptr, counting_enter, counting_leave);
  bool ok = false;
  test::read_all(path(2), 4096, ok);
  EXPECT_TRUE(ok);
  set_library_hooks(nullptr, nullptr, nullptr, nullptr);
  EXPECT_GT(g_enters, 3);
  EXPECT_EQ(g_enters, g_leaves);
}

TEST_F(Adapter, ThreadsReadDifferentFilesAtOnce) {
  up_channel_day();
  const std::vector<size_t> files = {2, 3, 5, 6, 1, 4};
  std::vector<std::vector<uint8_t>> got(files.size());
  std::vector<std::thread> threads;
  for (size_t k = 0; k < files.size(); ++k) {
    const std::string p = files[k] == 1 || files[k] == 4 ? path(files[k], "/mnt/idea0/2010-03-05/001/") : path(files[k]);
    threads.emplace_back([&got, k, p] {
      bool ok = false;
      for (int round = 0; round < 3; ++round) got[k] = test::read_all(p, k % 2 ? 32768 : 3000, ok);
    });
  }
  for (std::thread& th : threads) th.join();
  for (size_t k = 0; k < files.size(); ++k) EXPECT_TRUE(got[k] == test::expected_content(placed(files[k]))) << k;
}

}  // namespace
}  // namespace krt
