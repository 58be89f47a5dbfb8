// Start-up repairs, converts and re-initialises only in the sector cache: the image files keep
// every byte, while reads through the cache show the repaired state.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "krt/cache.h"
#include "krt/disk_io.h"
#include "krt/endian.h"
#include "krt/mount.h"
#include "krt/partition.h"
#include "krt/result.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::Disk;

std::vector<std::string> g_events;

// A hash of a sparse file's contents: its size and every data extent with its offset (holes
// read as zeros, so a write into one shows up as a new extent). Reads only what is stored.
size_t content_hash(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  struct stat st {};
  ::fstat(fd, &st);
  std::string all = std::to_string(st.st_size) + ";";
  std::vector<char> buf(1 << 20);
  for (off_t data = ::lseek(fd, 0, SEEK_DATA); data >= 0 && data < st.st_size;
       data = ::lseek(fd, data, SEEK_DATA)) {
    const off_t hole = ::lseek(fd, data, SEEK_HOLE);
    all += std::to_string(data) + ":";
    for (; data < hole;) {
      const ssize_t n = ::pread(fd, buf.data(), size_t(std::min<off_t>(hole - data, off_t(buf.size()))), data);
      if (n <= 0) break;
      all.append(buf.data(), size_t(n));
      data += n;
    }
  }
  ::close(fd);
  return std::hash<std::string>{}(all);
}

void record_event(const char* name, const char* text) { g_events.push_back(std::string(name) + " " + text); }

class MountReadOnly : public test::MountTest {};

TEST_F(MountReadOnly, ImagesAreUnchangedWhileTheCacheShowsTheRepairs) {
  // Disk 0: two unclean partitions. Disk 1: a version block that is not 0.4, so its table
  // cannot be read. Disk 2: an old 0.3 disk, unclean too.
  Disk unclean = test::kb::multi_partition_disk({300000, 300000}, 64);
  unclean.payload.kind = test::kb::Payload::Kind::kNone;
  for (test::kb::Partition& p : unclean.partitions) {
    p.files = test::some_files(60);
    p.unclean = test::kb::Unclean{5, 4, false};
  }
  Disk broken = test::kb::single_partition_disk(6500000, 64);  // room for a formatted partition
  broken.payload.kind = test::kb::Payload::Kind::kNone;
  broken.version = test::kb::Version::kBadTrailer;
  Disk old = test::small_disk();
  old.version = test::kb::Version::k03;
  old.partitions[0].files = test::some_files(30);
  old.partitions[0].unclean = test::kb::Unclean{3, 0, false};
  attach({unclean, broken, old});

  std::vector<size_t> hashes;
  for (size_t d = 0; d < 3; ++d) {
    ASSERT_EQ(::chmod(path(d).c_str(), 0444), 0);
    hashes.push_back(content_hash(path(d)));
  }
  g_events.clear();
  set_event_hook(record_event);
  int healthy = 0;
  krt_file_sys_init(healthy, nullptr);
  set_event_hook(nullptr);

  // Disk 0: both partitions stand at their real write position, and so does the cached block.
  for (int p = 0; p < 2; ++p) {
    SCOPED_TRACE(p);
    const DriverParam* pdp = get_pdp(0, p);
    ASSERT_NE(pdp, nullptr);
    EXPECT_EQ(pdp->current_cluster, report(0, size_t(p)).real_current_cluster);
    HeldBuf block(bread(0, pdp->start_sector + kTempOff));
    ASSERT_TRUE(block);
    EXPECT_EQ(ld32(block->data + offsetof(DriverParamDisk, current_cluster)), pdp->current_cluster);
  }
  // Disk 1 was re-initialised: a fresh version block and a table of one partition over the
  // whole disk, mounted as an empty volume.
  EXPECT_EQ(g_events, std::vector<std::string>{"ClearDriver /dev/sd1a"});
  {
    Partition parts[4] = {};
    ASSERT_EQ(krt_read_partitions(1, parts, 4), FS_OK);
    EXPECT_EQ(parts[0].start, 0u);
    EXPECT_EQ(parts[0].size, 6500000u);
    EXPECT_EQ(parts[1].size, 0u);
    const DriverParam* pdp = get_pdp(1, 0);
    ASSERT_NE(pdp, nullptr);
    EXPECT_EQ(pdp->current_cluster, 0u);
    EXPECT_EQ(pdp->status, kStatusClean);
  }
  // Disk 2: version 0.4 in the cache, a user-data area in its block, and its real position.
  {
    HeldBuf version(bread(2, kVersionSector));
    ASSERT_TRUE(version);
    EXPECT_TRUE(is_version_04(version->data));
    const DriverParam* pdp = get_pdp(2, 0);
    ASSERT_NE(pdp, nullptr);
    EXPECT_EQ(pdp->current_cluster, report(2).real_current_cluster);
    EXPECT_EQ(pdp->ud_start, pdp->data_off + kUdAreaOffset);
    HeldBuf block(bread(2, kTempOff));
    ASSERT_TRUE(block);
    EXPECT_EQ(ld32(block->data + offsetof(DriverParamDisk, ud_items)), kUdItems);
    EXPECT_EQ(ld32(block->data + offsetof(DriverParamDisk, current_cluster)), pdp->current_cluster);
  }

  detach_disks();
  for (size_t d = 0; d < 3; ++d) {
    EXPECT_EQ(content_hash(path(d)), hashes[d]) << d;
  }
}

}  // namespace
}  // namespace krt
