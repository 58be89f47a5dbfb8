// Fuzzing target: path names, through the parsers and through the adapter.
//
// The input, cut at its first NUL, is parsed as a recording path, a find pattern, a
// work-directory path and a partition component, and as a tool path. A recording path that
// parses must be written back by format_recording_name into a name that parses to the same
// fields. Then the text, put under "/mnt/", is opened, read and listed through the virtual file
// table while the (undamaged) sample disk is mounted.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "damaged_disk.h"
#include "krt/recording_path.h"
#include "krt/volume.h"
#include "krt_testing/hostile_disk.h"
#include "catalog/listing.h"
#include "vfs/filetable.h"

namespace {

void mount_once() {
  static const bool up = [] {
    const fuzz::SampleDisk& disk = fuzz::sample_disk();
    fuzz::quiet_library_log();
    fuzz::lay_input(disk, nullptr, 0);
    krt_testing::attach_only({disk.path});
    krt::volume_startup();
    return true;
  }();
  (void)up;
}

// A parsed recording name written back must parse to the same fields.
void check_round_trip(const krt::RecordingName& r) {
  char name[krt::kRecordingNameBytes];
  if (krt::format_recording_name(name, sizeof name, r.start_time, r.start_time, r.alarm, r.first_cluster,
                                 r.repeat_no, r.h264) < 0) {
    std::fprintf(stderr, "fuzz: a parsed recording name does not format\n");
    std::abort();
  }
  char day[64];
  std::snprintf(day, sizeof day, "/mnt/ide%c%d/%04d-%02d-%02d/%03d/", 'a' + r.dir.partition.disk,
                r.dir.partition.part, r.dir.year, r.dir.month, r.dir.day, r.dir.channel + 1);
  krt::RecordingName again{};
  if (!krt::parse_recording_path((std::string(day) + name).c_str(), again) || again.start_time != r.start_time ||
      again.first_cluster != r.first_cluster || again.repeat_no != r.repeat_no || again.h264 != r.h264 ||
      again.alarm != r.alarm) {
    std::fprintf(stderr, "fuzz: %s%s does not read back as written\n", day, name);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = text.substr(0, text.find('\0'));
  krt::RecordingName r{};
  if (krt::parse_recording_path(path.c_str(), r)) check_round_trip(r);
  krt::ChannelDirName dir{};
  krt::parse_channel_pattern(path.c_str(), dir);
  krt::PartitionName part{};
  krt::parse_work_directory_path(path.c_str(), part);
  krt::find_partition_component(path.c_str(), part);
  krt::is_recording_path(path.c_str());
  TreePath tree;
  std::string error;
  parse_tree_path(path, tree, error);

  mount_once();
  const std::string under = "/mnt/" + path;
  const FileOps* ops = FindFileOps(under.c_str());
  if (FSHandle f = ops->open(under.c_str(), "rb")) {
    unsigned char block[4096];
    ops->read(block, 1, sizeof block, f);
    ops->close(f);
  }
  FSFindData found{};
  const FSFindHandle find = ops->find_first(under.c_str(), &found);
  if (find != VFS_FIND_NONE) {
    for (int i = 0; i < 64 && ops->find_next(find, &found) == 0; ++i) {
    }
    ops->find_close(find);
  }
  fuzz::check_library("a path");
  return 0;
}
