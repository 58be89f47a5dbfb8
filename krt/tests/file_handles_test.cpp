// The handle table: allocation, the handle check's refusals, open and close.
#include <cstring>

#include "file_support.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

class FileHandles : public test::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    test::kb::Disk disk = test::small_disk();
    disk.partitions[0].files = test::some_files(30);
    start_ok({disk});
  }
};

TEST_F(FileHandles, TableHoldsTwoHundredFiftySixOpenHandles) {
  std::vector<FILEHANDLE*> open;
  for (int i = 0; i < kMaxFileHandles; ++i) {
    FILEHANDLE* h = nullptr;
    ASSERT_EQ(krt_file_open(h, 0, 0), FS_OK);
    open.push_back(h);
  }
  test::LogCapture log;
  FILEHANDLE* h = reinterpret_cast<FILEHANDLE*>(&log);
  EXPECT_EQ(krt_file_open(h, 0, 0), FS_NO_HANDLE);
  EXPECT_EQ(h, nullptr);
  EXPECT_NE(log.text().find("all 256 file handles are in use"), std::string::npos);
  EXPECT_EQ(alloc_adapter_handle(), nullptr);
  ASSERT_EQ(krt_file_close(open[100]), FS_OK);
  ASSERT_EQ(krt_file_open(h, 0, 1), FS_OK);
  EXPECT_EQ(h, open[100]);
  EXPECT_EQ(h->file_flag, kFileReadingAlt);
  EXPECT_EQ(krt_file_close_all(), FS_OK);
  for (FILEHANDLE* o : open) EXPECT_EQ(o->file_flag, kFileFree);
}

TEST_F(FileHandles, CheckRefusesEverythingButATableRecordOfThisGeneration) {
  FILEHANDLE* h = open_handle();
  ASSERT_NE(h, nullptr);
  FILEHANDLE foreign = *h;
  FILEHANDLE* inside = reinterpret_cast<FILEHANDLE*>(reinterpret_cast<char*>(h) + 8);
  FILEHANDLE* past = file_handle_slot(kMaxFileHandles - 1) + 1;
  struct Case {
    const char* name;
    FILEHANDLE* handle;
  } cases[] = {{"null", nullptr}, {"foreign record", &foreign}, {"inside a record", inside},
               {"past the table", past}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t pos = 0;
    uint8_t buf[kSectorBytes];
    EXPECT_EQ(check_handle(c.handle), FS_INVALID_HANDLE);
    EXPECT_EQ(krt_file_tell(c.handle, &pos), FS_INVALID_HANDLE);
    EXPECT_EQ(krt_file_read(c.handle, buf, 1), FS_INVALID_HANDLE);
    EXPECT_EQ(krt_file_close(c.handle), FS_INVALID_HANDLE);
    EXPECT_EQ(krt_file_goto_first(c.handle, 255, 255), FS_INVALID_HANDLE);
    EXPECT_EQ(krt_file_next_in_time(c.handle, 0, 0, 0, 255), 0u);
  }
  EXPECT_EQ(check_handle(h), FS_OK);
  bump_fs_change();  // the set of drivers changed
  EXPECT_EQ(check_handle(h), FS_INVALID_HANDLE);
  EXPECT_EQ(krt_file_close(h), FS_INVALID_HANDLE);
}

TEST_F(FileHandles, ClosedHandleIsRefused) {
  FILEHANDLE* h = open_file(report().files[0]);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(krt_file_close(h), FS_OK);
  uint8_t buf[kSectorBytes];
  EXPECT_EQ(krt_file_read(h, buf, 1), FS_INVALID_HANDLE);
  EXPECT_EQ(krt_file_moveto_len(h, 0), FS_INVALID_HANDLE);
  test::LogCapture log;
  EXPECT_EQ(krt_file_close(h), FS_INVALID_HANDLE);
  EXPECT_NE(log.text().find("Not a active file handle!"), std::string::npos);
}

TEST_F(FileHandles, AllocationAndModes) {
  EXPECT_EQ(alloc_handle(kPurposeCreate, 3), nullptr);  // no work driver of type 3
  FILEHANDLE* a = alloc_handle(kPurposeCreate, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->file_flag, kFileFree);           // not taken until the caller sets file_flag
  EXPECT_EQ(alloc_adapter_handle(), a);
  a->file_flag = kFileReading;
  FILEHANDLE* b = alloc_handle(kPurposeRead, 77);  // the type matters only for creating
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(b->fs_change, fs_change());
  EXPECT_EQ(fs_file_set_mode(a, 9), FS_OK);
  EXPECT_EQ(a->mode, 9);
  uint32_t per_clus = 0;
  EXPECT_EQ(krt_get_clus_sectors(a, &per_clus), FS_NO_EXIST_FILE);  // no driver yet
  a->file_flag = kFileFree;
}

TEST_F(FileHandles, OpenTakesTheFirstDriverAndCloseTakesTheMirror) {
  FILEHANDLE* h = open_handle();
  FILEHANDLE* m = open_handle();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(h->pdp, get_pdp(0, 0));
  EXPECT_EQ(h->cur_cluster, 0u);
  h->mirror = m;
  m->mirror = h;  // a broken pair must not send the close round in a circle
  EXPECT_EQ(krt_file_close(h), FS_OK);
  EXPECT_EQ(m->file_flag, kFileFree);
  EXPECT_EQ(h->mirror, nullptr);
}

class FileHandlesNoDriver : public test::FileTest {};

TEST_F(FileHandlesNoDriver, OpenWithoutADriverFails) {
  ASSERT_EQ(test::attach_only({}), 0);
  int healthy = 0;
  krt_file_sys_init(healthy, nullptr);
  FILEHANDLE* h = nullptr;
  EXPECT_EQ(krt_file_open(h, 0, 0), FS_NO_HANDLE);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(file_handle_slot(0)->file_flag, kFileFree);
}

}  // namespace
}  // namespace krt
