// The demo disk round trip: everything the demo maker wrote reads back through the read side
// (the day and channel listings under /mnt and the file reads `krt cat` uses) with the same
// bytes, and the disk shows what a recorder leaves: an older lap, a collision, split and
// continued files, a file past midnight, both stream kinds and a mirror.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "demo_disk.h"
#include "image_file.h"
#include "krt/dir_index.h"
#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/result.h"
#include "krt/volume.h"
#include "vfs/filetable.h"
#include "vfs/fsfile.h"

namespace krtdemo {
namespace {

std::string temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/krt-demo-XXXXXX";
  return ::mkdtemp(t.data()) ? t : std::string();
}

// The listing of a channel folder: first cluster -> name.
std::map<uint32_t, std::string> listing(const std::string& folder) {
  std::map<uint32_t, std::string> out;
  const std::string pattern = folder + "/*";
  const FileOps* ops = FindFileOps(pattern.c_str());
  FSFindData d{};
  const FSFindHandle find = ops->find_first(pattern.c_str(), &d);
  if (find == VFS_FIND_NONE) return out;
  do {
    const char* at = std::strstr(d.name, "[@");
    if (at) out[uint32_t(std::strtoul(at + 2, nullptr, 16))] = d.name;
  } while (ops->find_next(find, &d) == 0);
  ops->find_close(find);
  return out;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> out;
  CFSFile f;
  if (!f.Open(path.c_str(), CFSFile::modeRead)) return out;
  std::vector<uint8_t> buf(32768);
  for (;;) {
    const uint32_t n = f.Read(buf.data(), uint32_t(buf.size()));
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    if (n < buf.size()) break;
  }
  return out;
}

std::string folder_of(const DemoFile& f) {
  const krt::TimeFields t = krt::unpack_time(f.start_time);
  char s[64];
  std::snprintf(s, sizeof s, "/mnt/idea%d/%04d-%02d-%02d/%03d", f.part, t.year, t.month, t.day, f.channel + 1);
  return s;
}

constexpr int kDays = 2;

class DemoDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(temp_dir());
    image_ = new std::string(*dir_ + "/demo.img");
    DemoOptions o;
    o.days = kDays;
    o.channels = 2;
    o.pictures_per_clip = 2;
    std::FILE* quiet = std::fopen("/dev/null", "w");
    krt::set_log_stream(quiet);
    result_ = new DemoResult(make_demo_disk(*image_, o));
    krt::set_log_stream(nullptr);
    if (quiet) std::fclose(quiet);
  }
  static void TearDownTestSuite() {
    krt::detach_disks();
    std::remove(image_->c_str());
    ::rmdir(dir_->c_str());
    delete result_;
    delete image_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_TRUE(result_->ok) << result_->error;
    krt::DiskSources sources;
    sources.images = {*image_};
    sources.environment = sources.program_folder = sources.block_devices = false;
    krt::set_disk_sources(sources);
    krt::volume_startup();
    ASSERT_EQ(krt::disk_hooks().write, krt::default_disk_hooks().write);
  }

  static std::string* dir_;
  static std::string* image_;
  static DemoResult* result_;
};
std::string* DemoDisk::dir_ = nullptr;
std::string* DemoDisk::image_ = nullptr;
DemoResult* DemoDisk::result_ = nullptr;

// Everything the maker wrote reads back as written.
void expect_round_trip(const DemoResult& result) {
  std::map<std::string, std::map<uint32_t, std::string>> listings;
  size_t checked = 0;
  for (const DemoFile& f : result.files) {
    if (f.overwritten) continue;
    const std::string folder = folder_of(f);
    if (!listings.count(folder)) listings[folder] = listing(folder);
    const auto& names = listings[folder];
    const auto it = names.find(f.first_cluster);
    ASSERT_NE(it, names.end()) << folder << " lists no file at cluster " << f.first_cluster;
    const std::vector<uint8_t> back = read_file(folder + "/" + it->second);
    const std::vector<uint8_t> written(f.bytes.begin() + f.header_bytes, f.bytes.end());
    ASSERT_EQ(back.size(), written.size()) << it->second;
    ASSERT_TRUE(back == written) << it->second;
    ++checked;
  }
  EXPECT_GT(checked, 400u);
  // Nothing else is listed: every listed recording is one the maker wrote.
  size_t listed = 0;
  for (const auto& [folder, names] : listings) listed += names.size();
  EXPECT_EQ(listed, checked);
}

// What a recorder leaves on its disk.
void expect_recorder_traces(const DemoResult& result, const std::string& image) {
  const krt::DriverParam& main = *krt::get_pdp(0, 0);
  const krt::DriverParam& mirror = *krt::get_pdp(0, 1);
  EXPECT_EQ(main.type, 0u);
  EXPECT_EQ(mirror.type, 3u);
  EXPECT_EQ(main.status, krt::kStatusClean) << "switched off properly";
  EXPECT_GE(main.lap, 1) << "idea0 wrapped";
  EXPECT_NE(main.start_cluster2, 0u) << "its older lap is still there";
  EXPECT_GE(main.coll_count, 1u) << "the clock was set back";
  EXPECT_GE(result.disk_overs, 1);
  EXPECT_GE(result.time_changes, 2);

  size_t continued = 0, past_midnight = 0, program = 0, raw = 0, mirrored = 0;
  std::set<int> days_on_idea0;
  for (const DemoFile& f : result.files) {
    if (f.overwritten) continue;
    krt::DirItem item{};
    ASSERT_EQ(krt::get_dir_item_info(*krt::get_pdp(0, f.part), f.first_cluster, item), krt::FS_OK);
    continued += item.dir_flag == krt::kDirFlagContinued ? 1 : 0;
    past_midnight += krt::unpack_time(item.start_time).day != krt::unpack_time(item.end_time).day ? 1 : 0;
    const uint8_t* data = f.bytes.data() + f.header_bytes;
    program += data[3] == 0xBA ? 1 : 0;
    raw += data[3] == 0x01 ? 1 : 0;
    mirrored += f.part == 1 ? 1 : 0;
    if (f.part == 0) days_on_idea0.insert(krt::unpack_time(f.start_time).day);
  }
  EXPECT_GT(continued, 100u) << "split by the pack period";
  EXPECT_GE(past_midnight, 1u);
  EXPECT_EQ(days_on_idea0.size(), size_t(kDays)) << "the older lap still holds the first day";
  EXPECT_GT(program, 0u);
  EXPECT_GT(raw, 0u);
  EXPECT_GT(mirrored, 0u);

  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(100) << 20) << "a sparse image";
}

// One demo disk for both checks (making it is the slow part).
TEST_F(DemoDisk, ReadsBackAsWrittenAndShowsWhatARecorderLeaves) {
  expect_round_trip(*result_);
  expect_recorder_traces(*result_, *image_);
}

TEST(ImageFile, OnlyMakesOrReplacesRegularFilesOfThisUser) {
  const std::string dir = temp_dir();
  std::string error;
  ImageFile a;
  EXPECT_FALSE(a.create(dir, 8, error)) << "a folder";
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
  const std::string target = dir + "/target";
  const std::string link = dir + "/link";
  {
    ImageFile b;
    ASSERT_TRUE(b.create(target, 8, error)) << error;
    const uint8_t sector[512] = {'K', 'R', 'T'};
    EXPECT_TRUE(b.write_sector(1, sector));
  }
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ImageFile c;
  EXPECT_FALSE(c.create(link, 8, error)) << "a symbolic link";
  ImageFile d;
  EXPECT_TRUE(d.create(target, 4, error)) << "a regular file of this user is replaced";
  d.close();
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4 * 512);
  std::remove(link.c_str());
  std::remove(target.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace krtdemo
