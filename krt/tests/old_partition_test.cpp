// An old-version disk whose reserved clusters leave no room for the user-data area is a layout
// its recorder made: start-up says nothing about it unless asked for trace lines.
#include <string>

#include "krt/log.h"
#include "krt/mount.h"
#include "krt/driver.h"
#include "krt/userdata.h"
#include "mount_support.h"

namespace krt {
namespace {

class OldPartition : public test::MountTest {
 protected:
  void TearDown() override {
    set_log_verbose(false);
    MountTest::TearDown();
  }
};

TEST_F(OldPartition, NoRoomForUserDataIsATraceLineNotAWarning) {
  test::kb::Disk old = test::small_disk();  // 187 reserved clusters of 64 sectors: too few
  old.version = test::kb::Version::k03;
  old.partitions[0].files = test::some_files(30);
  for (const bool verbose : {false, true}) {
    SCOPED_TRACE(verbose);
    set_log_verbose(verbose);
    test::LogCapture log;
    if (!verbose) attach({old});
    int healthy = 0;
    krt_file_sys_init(healthy, nullptr);
    const std::string text = log.text();
    EXPECT_EQ(text.find("FSWarn"), std::string::npos) << text;
    EXPECT_EQ(mount_report(0, 0).state, MountState::kAsFound);
    const DriverParam* pdp = get_pdp(0, 0);
    ASSERT_NE(pdp, nullptr);
    EXPECT_FALSE(ud_area_fits(*pdp));
    EXPECT_EQ(text.find("no room for user data") != std::string::npos, verbose) << text;
  }
}

}  // namespace
}  // namespace krt
