// Damage sweeps: a small disk with one metadata field at a time set to a hostile value, and the
// same disk with its N-th read failing, each brought up, listed and read in full as an examiner
// would. Every case must end (with whatever result), keep every transfer inside the partitions,
// leave the sector cache's and the handle table's rules intact, hold no cache buffer and no
// file handle afterwards, and never list a recording larger than its partition.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "krt/cache.h"
#include "krt/disk_io.h"
#include "krt/driver.h"
#include "krt/file.h"
#include "krt/log.h"
#include "krt/volume.h"
#include "krt_testing/hostile_disk.h"
#include "krt_testing/image_builder.h"
#include "krt_testing/scratch.h"
#include "test_support.h"
#include "catalog/listing.h"
#include "catalog/walk.h"

namespace {

namespace kb = krt_testing;
namespace hostile = krt_testing::hostile;

// The sample disk, built once for the whole program.
struct Sample {
  kb::ScratchDir scratch;
  std::string path;
  kb::BuildResult built;
};

const Sample& sample() {
  static Sample* s = [] {
    auto* out = new Sample;
    out->path = out->scratch.path("sample.img");
    out->built = kb::build_image(kb::damage_sample_disk(), out->path);
    return out;
  }();
  return *s;
}

// What one case showed.
struct Outcome {
  WalkReport walk;
  std::string log;
  bool disk_error = false;
};

void expect_days_agree();

// Whether run_case also asks every channel folder of the days around the sample's whether it
// lists (expect_days_agree): slow, so only the fields that can move a file's day or channel
// ask it.
bool g_check_days = false;

// Brings the sample disk up through the hostile hooks as they are set, walks everything and
// checks what every case must hold. The disk must attach unless its first read may fail.
Outcome run_case(bool may_lose_disk = false) {
  // With every read answered, every listed recording must open and read to its listed size.
  const bool reads_answered = !may_lose_disk;
  const Sample& s = sample();
  for (const kb::PartitionReport& r : s.built.partitions) {
    hostile::allow(0, r.start, s.built.table[size_t(r.slot)].size);
  }
  Outcome out;
  krt::test::LogCapture log;
  krt::clear_disk_error_report();
  const int disks = kb::attach_only({s.path});
  if (!may_lose_disk) {
    EXPECT_EQ(disks, 1);
  }
  krt::volume_startup();
  WalkLimits limits;
  limits.read_cap = 8u << 20;  // every file is 64 KiB: more is a finding of its own
  out.walk = walk_everything(limits);
  out.log = log.text();
  out.disk_error = krt::disk_error_report().read_mask != 0;
  EXPECT_EQ(krt::cache_check(), "");
  EXPECT_EQ(krt::file_handles_check(), "");
  EXPECT_EQ(hostile::stray_transfers(), std::vector<std::string>{});
  for (int i = 0; i < krt::kCacheBuffers; ++i) EXPECT_EQ(krt::cache_buffer(i)->refs, 0) << "cache buffer " << i;
  for (int i = 0; i < krt::kMaxFileHandles; ++i) {
    EXPECT_EQ(krt::file_handle_slot(i)->file_flag, krt::kFileFree) << "file handle " << i;
  }
  EXPECT_EQ(out.walk.empty_days, 0) << "a day listed without a channel";
  EXPECT_LE(out.walk.largest, s.built.table[0].size * 512) << "a listed size beyond the partition";
  if (g_check_days) expect_days_agree();
  if (reads_answered) {
    EXPECT_EQ(out.walk.read_whole, out.walk.recordings) << "a listed recording that does not open or reads short: "
                                                        << (out.walk.errors.empty() ? "" : out.walk.errors.front());
  }
  return out;
}

// The day names a partition's folder shows, from one source.
std::set<std::string> day_names(int part, Source source) {
  TreePath p;
  std::string error;
  std::vector<TreeEntry> days;
  std::set<std::string> out;
  if (parse_tree_path("/mnt/idea" + std::to_string(part), p, error) && list_folder(p, days, error, source)) {
    for (const TreeEntry& d : days) out.insert(d.name);
  }
  return out;
}

// The channel bits (channel mod 32, as the record calendar keeps them) of the channel folders
// of a day that list a recording when asked by path, whether or not the tree shows the day.
uint32_t channels_listing(int part, const std::string& day) {
  uint32_t bits = 0;
  for (int c = 0; c < krt::kMaxChannels; ++c) {
    char name[8];
    std::snprintf(name, sizeof name, "%03d", c + 1);
    TreePath p;
    std::string error;
    std::vector<TreeEntry> recordings;
    const std::string path = "/mnt/idea" + std::to_string(part) + "/" + day + "/" + name;
    if (parse_tree_path(path, p, error) && list_folder(p, recordings, error) && !recordings.empty())
      bits |= 1u << (c % 32);
  }
  return bits;
}

// The record calendar's channel bits of a day, by the channel folders it shows.
uint32_t calendar_channels(int part, const std::string& day) {
  TreePath p;
  std::string error;
  std::vector<TreeEntry> channels;
  uint32_t bits = 0;
  if (parse_tree_path("/mnt/idea" + std::to_string(part) + "/" + day, p, error) &&
      list_folder(p, channels, error, Source::kRecordCalendar)) {
    for (const TreeEntry& c : channels) bits |= 1u << ((std::stoi(c.name) - 1) % 32);
  }
  return bits;
}

// A day is listed exactly when some channel folder of it lists a recording, in the day list of
// the work-directory calendar and in the record calendar (there with the very channels that
// list). Days are asked by path over the sample's dates and a few days around them, and over
// every day either calendar shows.
void expect_days_agree() {
  const Sample& s = sample();
  for (const kb::PartitionReport& r : s.built.partitions) {
    const std::set<std::string> work = day_names(r.slot, Source::kWorkDirectory);
    const std::set<std::string> calendar = day_names(r.slot, Source::kRecordCalendar);
    std::set<std::string> asked(work.begin(), work.end());
    asked.insert(calendar.begin(), calendar.end());
    for (int d = 1; d <= 9; ++d) asked.insert("2010-03-0" + std::to_string(d));
    for (const std::string& day : asked) {
      SCOPED_TRACE("partition " + std::to_string(r.slot) + " day " + day);
      const uint32_t listing = channels_listing(r.slot, day);
      EXPECT_EQ(work.count(day) == 1, listing != 0) << "work-directory day list";
      EXPECT_EQ(calendar.count(day) == 1 ? calendar_channels(r.slot, day) : 0u, listing) << "record calendar";
    }
  }
}

class DamageSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sample().built.ok) << sample().built.error;
    hostile::install();
  }
  void TearDown() override {
    g_check_days = false;
    hostile::uninstall();
    krt::detach_disks();
  }
};

// A field of the on-disk metadata: where it is and how wide.
struct Field {
  std::string name;
  uint64_t at;    // absolute byte offset
  int width;      // 1, 2 or 4 bytes
  uint32_t self;  // the cluster the field belongs to (a "self link"), 0 when none
  bool days = false;  // damage here can move a file's day or channel: the day lists are checked
};

// The hostile values of a field: nothing, all ones, the cluster count, a self link, a backward
// link, a link past the partition.
std::vector<std::pair<std::string, uint32_t>> hostile_values(const Field& f, const kb::PartitionReport& r) {
  const uint32_t total = r.layout.total_clus;
  std::vector<std::pair<std::string, uint32_t>> v = {
      {"0", 0}, {"all ones", 0xFFFFFFFF}, {"total clusters", total}, {"past the partition", total + 1000}};
  if (f.self != 0) {
    v.push_back({"self link", f.self});
    v.push_back({"backward link", f.self > r.layout.rev_clus ? f.self - 1 : r.layout.rev_clus});
  }
  return v;
}

void patch_value(const Field& f, uint32_t value) {
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(value >> (8 * i));
  hostile::patch(0, f.at, bytes, size_t(f.width));
}

// The listed recordings of every partition but `slot`.
std::vector<std::string> listed_elsewhere(const WalkReport& walk, int slot) {
  const std::string own = "/mnt/idea" + std::to_string(slot) + "/";
  std::vector<std::string> out;
  for (const std::string& line : walk.listed) {
    if (line.rfind(own, 0) != 0) out.push_back(line);
  }
  return out;
}

// Runs every hostile value over every field, each case on a fresh start-up. Damage to one
// partition's metadata never changes what the other partitions list.
void sweep(const std::vector<Field>& fields, const kb::PartitionReport& r) {
  hostile::reset();
  g_check_days = false;
  const std::vector<std::string> others = listed_elsewhere(run_case().walk, r.slot);
  for (const Field& f : fields) {
    for (const auto& [name, value] : hostile_values(f, r)) {
      SCOPED_TRACE(f.name + " = " + name);
      hostile::reset();
      patch_value(f, value);
      g_check_days = f.days;
      EXPECT_EQ(listed_elsewhere(run_case().walk, r.slot), others);
    }
  }
}

// The parameter block words of partition i that a recorder stores.
std::vector<Field> parameter_words(const kb::PartitionReport& r) {
  static const std::pair<const char*, int> kWords[] = {
      {"lap", 8},          {"status", 12},          {"start_time1", 16},   {"end_time1", 20},
      {"current_cluster", 24}, {"start_cluster2", 28}, {"end_cluster2", 32}, {"start_time2", 36},
      {"end_time2", 40},   {"sector_bytes", 44},    {"sector_per_clus", 48}, {"rev_clus", 56},
      {"index_off", 60},   {"temp_off", 64},        {"dir_off", 68},       {"data_off", 72},
      {"total_clus", 76},  {"error_clus", 80},      {"type", 84},          {"ud_start", 88},
      {"ud_item_size", 92}, {"ud_items", 96},       {"ud_first_item", 100}, {"ud_last_item", 104},
      {"saved_cluster", 112}, {"restore_from", 116}, {"second_dir", 136},  {"reserve_a_start", 144},
      {"reserve_a_size", 148}, {"err_state", 152},  {"coll_sec", 156},     {"coll_count", 160},
      {"cur_section", 164}, {"reserve_b_start", 184}, {"reserve_b_size", 188}, {"magic", 328},
  };
  std::vector<Field> out;
  const uint64_t block = (r.start + r.layout.temp_off) * 512;
  for (const auto& [name, offset] : kWords) {
    out.push_back({std::string("partition ") + std::to_string(r.slot) + " " + name, block + uint64_t(offset),
                   offset == 8 ? 1 : 4, 0});
  }
  return out;
}

// The directory item fields of cluster c.
std::vector<Field> item_fields(const kb::PartitionReport& r, uint32_t c, const std::string& what) {
  static const std::pair<const char*, std::pair<int, int>> kFields[] = {
      {"alarm", {0, 1}},       {"dir_flag", {1, 1}},     {"item_num", {2, 2}},  {"up_cluster_no", {4, 4}},
      {"down_cluster_no", {8, 4}}, {"start_time", {12, 4}}, {"end_time", {16, 4}}, {"hdr_sectors", {20, 2}},
      {"end_length", {22, 2}}, {"first_cluster_no", {24, 4}}, {"repeat_no", {30, 1}}, {"channel", {31, 1}},
  };
  std::vector<Field> out;
  const uint64_t item = (r.start + r.layout.dir_off) * 512 + uint64_t(c) * 32;
  for (const auto& [name, place] : kFields) {
    const std::string field = name;
    const bool days = field == "dir_flag" || field == "down_cluster_no" || field == "start_time" ||
                      field == "end_time" || field == "first_cluster_no" || field == "channel";
    out.push_back({std::string("partition ") + std::to_string(r.slot) + " " + what + " " + name,
                   item + uint64_t(place.first), place.second, c, days});
  }
  return out;
}

TEST_F(DamageSweep, ParameterBlockWords) {
  for (const kb::PartitionReport& r : sample().built.partitions) sweep(parameter_words(r), r);
}

TEST_F(DamageSweep, DirectoryItemsAndLinks) {
  for (const kb::PartitionReport& r : sample().built.partitions) {
    // The first, a middle and the last cluster of a file of the current lap, and the first
    // cluster of an older-lap file that survived.
    const kb::FilePlacement& f = r.files[r.files.size() / 2];
    std::vector<Field> fields = item_fields(r, f.first_cluster, "first cluster");
    for (const Field& x : item_fields(r, f.last_cluster, "last cluster")) fields.push_back(x);
    for (const kb::FilePlacement& old : r.older_lap) {
      if (old.overwritten) continue;
      for (const Field& x : item_fields(r, old.first_cluster, "older-lap first cluster")) fields.push_back(x);
      break;
    }
    sweep(fields, r);
  }
}

TEST_F(DamageSweep, IndexBytes) {
  for (const kb::PartitionReport& r : sample().built.partitions) {
    std::vector<Field> fields;
    const auto [first, end] = kb::used_clusters(r);
    const uint64_t index = (r.start + r.layout.index_off) * 512;
    for (uint32_t c : {first, (first + end) / 2, end - 1, end, r.real_current_cluster}) {
      fields.push_back({"partition " + std::to_string(r.slot) + " index byte " + std::to_string(c), index + c, 1, 0, true});
    }
    sweep(fields, r);
  }
}

// The day lists agree with the channel folders on the undamaged disk, whose partition 0 holds
// an older lap.
TEST_F(DamageSweep, DayListsAgreeWithChannelFolders) {
  hostile::reset();
  run_case();
  expect_days_agree();
}

// Fails the N-th read, once and from then on, for N = 1, 2, ... until a run needs fewer reads.
TEST_F(DamageSweep, FailedReads) {
  hostile::reset();
  const Outcome clean = run_case();
  ASSERT_TRUE(clean.walk.errors.empty()) << clean.walk.errors.front();
  const uint64_t reads = hostile::reads();
  RecordProperty("reads", std::to_string(reads));
  for (bool from_then_on : {false, true}) {
    for (uint64_t n = 1;; ++n) {
      SCOPED_TRACE("read " + std::to_string(n) + (from_then_on ? " and later ones fail" : " fails"));
      hostile::reset();
      hostile::fail_read(n, from_then_on);
      const Outcome o = run_case(true);
      if (hostile::failed_reads() == 0) break;
      ASSERT_LE(n, reads + 1);
      const bool same = o.walk.folders == clean.walk.folders && o.walk.recordings == clean.walk.recordings &&
                        o.walk.bytes == clean.walk.bytes && o.walk.errors.empty();
      // A failure that changed what the examiner sees must have been said.
      if (!same) {
        EXPECT_TRUE(!o.walk.errors.empty() || o.disk_error || !o.log.empty());
      }
    }
  }
}

}  // namespace
