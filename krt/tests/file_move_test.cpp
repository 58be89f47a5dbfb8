// Moves inside a file (by sectors, to a time, by seconds) and the change of channel at the
// moment a handle stands on, over built images with the pattern payload.
#include "file_support.h"

namespace krt {
namespace {

using test::kb::FilePlacement;
using test::kb::pack_time;

constexpr uint32_t kP = 64;

uint32_t at(int hour, int minute, int second = 0) { return pack_time(2010, 3, 5, hour, minute, second); }

// Channels 0-2 in 15-minute files of three 5-minute clusters from 08:00 to 08:45 (files[3k + ch]),
// every last cluster full; channel 5 has one file of three 60-second clusters from 09:00.
class FileMove : public test::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    test::kb::Disk disk = test::interleaved_disk(kP);
    test::kb::File minutes;
    minutes.channel = 5;
    minutes.start = at(9, 0);
    minutes.end = at(9, 3);
    minutes.clusters = 3;
    disk.partitions[0].files.push_back(minutes);
    start_ok({disk});
  }

  const FilePlacement& ch1() const { return report().files[1]; }
  const FilePlacement& minutes() const { return report().files.back(); }
};

TEST_F(FileMove, MovetoLenOnAClusterBoundary) {
  FILEHANDLE* h = open_file(ch1());
  ASSERT_NE(h, nullptr);
  for (uint32_t k : {1u, 2u}) {
    SCOPED_TRACE(k);
    ASSERT_EQ(krt_file_moveto_len(h, k * kP), FS_OK);
    EXPECT_EQ(h->cur_cluster, ch1().clusters[k - 1]);  // the end of the earlier cluster
    EXPECT_EQ(h->cur_offset, kP);
    EXPECT_EQ(tell(h), k * kP);
    uint8_t buf[2 * kSectorBytes];
    ASSERT_EQ(krt_file_read(h, buf, 2), FS_OK);  // the read goes on in cluster k
    EXPECT_EQ(h->cur_cluster, ch1().clusters[k]);
    const std::vector<uint8_t> want = file_sectors(ch1(), k * kP, 2);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), buf));
  }
}

TEST_F(FileMove, MovetoLenLimits) {
  FILEHANDLE* h = open_file(ch1());
  ASSERT_NE(h, nullptr);
  const uint32_t size = 3 * kP;
  ASSERT_EQ(krt_file_moveto_len(h, 70), FS_OK);
  EXPECT_EQ(krt_file_moveto_len(h, size + 1), FS_OUT_OF_RANGE);
  EXPECT_EQ(tell(h), 70u);  // unchanged
  ASSERT_EQ(krt_file_moveto_len(h, size), FS_OK);  // the end itself is allowed
  uint8_t buf[kSectorBytes];
  EXPECT_EQ(krt_file_read(h, buf, 1), FS_READ_FAIL);
  ASSERT_EQ(krt_file_moveto_len(h, 0), FS_OK);
  EXPECT_EQ(h->cur_cluster, ch1().first_cluster);
  EXPECT_EQ(krt_file_moveto_len(open_handle(), 0), FS_NO_EXIST_FILE);
}

TEST_F(FileMove, MoveSize) {
  FILEHANDLE* h = open_file(ch1());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(krt_file_move_size(h, 0, 100), FS_OK);
  EXPECT_EQ(tell(h), 100u);
  ASSERT_EQ(krt_file_move_size(h, 1, 30), FS_OK);
  EXPECT_EQ(tell(h), 70u);
  ASSERT_EQ(krt_file_move_size(h, 1, 1000), FS_OK);  // not below the start
  EXPECT_EQ(tell(h), 0u);
  EXPECT_EQ(krt_file_move_size(h, 0, 1000), FS_OUT_OF_RANGE);
  EXPECT_EQ(tell(h), 0u);
}

TEST_F(FileMove, MovetoTime) {
  FILEHANDLE* h = open_file(minutes());
  ASSERT_NE(h, nullptr);
  struct Case {
    const char* name;
    uint32_t t;
    uint32_t ordinal;  // cluster of the file expected
    uint32_t offset;   // cur_offset expected
  } cases[] = {
      // 40 s into the second cluster, which covers 60 s with 64 sectors: 40 x 64 / 60 = 42,
      // cut to a multiple of 16.
      {"40 s into a later cluster", at(9, 1, 40), 1, 32},
      // The first cluster stands for the file: 180 s over its last ordinal 2 = 90 s each.
      {"30 s into the first cluster", at(9, 0, 30), 0, 16},
      {"at a cluster's start", at(9, 2), 1, kP},
      {"before the file", at(8, 0), 0, 0},
      {"after the file", at(10, 0), 2, kP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(krt_file_moveto_time(h, c.t), FS_OK);
    EXPECT_EQ(h->cur_cluster, minutes().clusters[c.ordinal]);
    EXPECT_EQ(h->cur_offset, c.offset);
  }
}

TEST_F(FileMove, MoveSecond) {
  FILEHANDLE* h = open_file(minutes());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(krt_file_move_second(h, 0, 45), FS_OK);  // 45 x 64 / 90 = 32 sectors
  EXPECT_EQ(tell(h), 32u);
  ASSERT_EQ(krt_file_moveto_len(h, 100), FS_OK);   // in the second cluster: 60 s for 64 sectors
  ASSERT_EQ(krt_file_move_second(h, 1, 30), FS_OK);
  EXPECT_EQ(tell(h), 68u);
  EXPECT_EQ(krt_file_move_second(h, 0, 100000), FS_OK);  // too far: FS_OK, not moved
  EXPECT_EQ(tell(h), 68u);
}

// ---- Channel change ------------------------------------------------------------------------

TEST_F(FileMove, OpenNearFollowsTheMoment) {
  FILEHANDLE* h = open_file(ch1());
  ASSERT_NE(h, nullptr);
  // 70 sectors in: 6 of the second cluster (08:05, 300 s) = 28 s, so the moment is 08:05:28.
  ASSERT_EQ(krt_file_moveto_len(h, 70), FS_OK);
  FILEHANDLE* near = nullptr;
  ASSERT_EQ(fs_file_open_near(h, 2, near), FS_OK);
  ASSERT_NE(near, nullptr);
  EXPECT_NE(near, h);
  EXPECT_EQ(near->channel, 2);
  EXPECT_EQ(near->cur_cluster, report().files[2].clusters[1]);
  EXPECT_EQ(near->cur_offset, 0u);  // 28 x 64 / 300 = 5, cut to 0
  EXPECT_EQ(near->file_flag, kFileReading);
  EXPECT_EQ(h->channel, 1);  // the first handle stays
  EXPECT_EQ(tell(h), 70u);
  // The same move on an existing handle.
  FILEHANDLE* other = open_file(report().files[0]);
  ASSERT_EQ(krt_file_sync(h, 2, other), FS_OK);
  EXPECT_EQ(other->cur_cluster, near->cur_cluster);
  EXPECT_EQ(other->channel, 2);
  // Onto its own channel: success, nothing opened.
  FILEHANDLE sentinel{};
  FILEHANDLE* untouched = &sentinel;
  test::LogCapture log;
  EXPECT_EQ(fs_file_open_near(h, 1, untouched), FS_OK);
  EXPECT_EQ(untouched, &sentinel);
  EXPECT_NE(log.text().find("already at this channel"), std::string::npos);
  EXPECT_EQ(krt_file_sync(h, 1, other), FS_OK);
  EXPECT_EQ(other->channel, 2);
}

TEST_F(FileMove, OpenNearOntoAnEmptyChannel) {
  FILEHANDLE* h = open_file(ch1());
  ASSERT_NE(h, nullptr);
  auto free_slots = [] {
    int n = 0;
    for (int i = 0; i < kMaxFileHandles; ++i) n += file_handle_slot(i)->file_flag == kFileFree;
    return n;
  };
  const int before = free_slots();
  FILEHANDLE* near = nullptr;
  EXPECT_EQ(fs_file_open_near(h, 9, near), FS_NO_EXIST_FILE);
  EXPECT_EQ(near, nullptr);
  EXPECT_EQ(free_slots(), before);  // the handle it took is given back
  FILEHANDLE* other = open_file(report().files[0]);
  EXPECT_EQ(krt_file_sync(h, 9, other), FS_NO_EXIST_FILE);
  EXPECT_EQ(other->channel, 0);  // left where it was
  EXPECT_EQ(other->cur_cluster, report().files[0].first_cluster);
}

// A copy made for a channel change shares nothing the first handle owns.
TEST_F(FileMove, OpenNearSharesNoBuffer) {
  FILEHANDLE* h = open_file(ch1());
  ASSERT_NE(h, nullptr);
  uint8_t adapter_buffer[1024];
  h->raw_buffer = h->buffer = adapter_buffer;
  h->buffer_size = sizeof adapter_buffer;
  h->kind = kHandleRecording;
  FILEHANDLE* near = nullptr;
  ASSERT_EQ(fs_file_open_near(h, 0, near), FS_OK);
  EXPECT_EQ(near->raw_buffer, nullptr);
  EXPECT_EQ(near->buffer, nullptr);
  EXPECT_EQ(near->mirror, nullptr);
  EXPECT_EQ(near->buffer_pos, kAdapterBufferEmpty);
  h->raw_buffer = h->buffer = nullptr;
}

}  // namespace
}  // namespace krt
