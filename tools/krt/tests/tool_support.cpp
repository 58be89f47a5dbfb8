#include "tool_support.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "krt_testing/shell.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "krt/packed_time.h"
#include "krt/recording_path.h"

extern char** environ;

namespace tool_test {
namespace {

uint32_t at(int y, int mo, int d, int h, int mi) { return kb::pack_time(y, mo, d, h, mi, 0); }

int exit_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  return 128 + (WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0);
}

kb::Disk first_disk() {
  kb::Disk disk = kb::multi_partition_disk({200000, 200000}, 64);
  kb::Partition& p0 = disk.partitions[0];
  p0.files = kb::recordings(kb::channel_range(0, 2), at(2010, 3, 4, 22, 0), at(2010, 3, 5, 3, 0), 1800);
  kb::File with_header;
  with_header.header_sectors = 3;
  const auto headed = kb::recordings({3}, at(2010, 3, 4, 22, 0), at(2010, 3, 5, 3, 0), 1800, with_header);
  p0.files.insert(p0.files.end(), headed.begin(), headed.end());
  kb::File midnight;
  midnight.channel = 4;
  midnight.start = at(2010, 3, 4, 23, 45);
  midnight.end = at(2010, 3, 5, 0, 30);
  p0.files.push_back(midnight);
  std::stable_sort(p0.files.begin(), p0.files.end(),
                   [](const kb::File& a, const kb::File& b) { return a.start < b.start; });
  disk.partitions[1].files = kb::recordings({5, 6}, at(2010, 3, 5, 0, 0), at(2010, 3, 5, 6, 0), 3600);
  return disk;
}

kb::Disk second_disk() {
  kb::Disk disk = kb::single_partition_disk(200000, 64);
  disk.id = 1;
  disk.partitions[0].files = kb::recordings({0}, at(2010, 3, 6, 8, 0), at(2010, 3, 6, 9, 0), 1800);
  kb::File large;  // 4.7 MiB: more blocks than an export keeps in flight
  large.channel = 1;
  large.start = at(2010, 3, 6, 10, 0);
  large.end = at(2010, 3, 6, 10, 30);
  large.clusters = 150;
  disk.partitions[0].files.push_back(large);
  // Channel 2 on 2010-03-07: a file whose third cluster names another file, so its read
  // ends early.
  kb::File broken;
  broken.channel = 2;
  broken.start = at(2010, 3, 7, 8, 0);
  broken.end = at(2010, 3, 7, 8, 20);
  broken.clusters = 4;
  disk.partitions[0].files.push_back(broken);
  const kb::BuildResult plan = kb::plan_image(disk);
  if (plan.ok) {
    kb::RawCluster raw;
    raw.cluster = plan.partitions[0].files.back().clusters[2];
    raw.item.dir_flag = 1;
    raw.item.item_num = 2;
    raw.item.start_time = raw.item.end_time = broken.start;
    raw.item.first_cluster_no = 1;
    raw.item.channel = 2;
    raw.item.av = 2;
    disk.partitions[0].raw_clusters.push_back(raw);
  }
  return disk;
}

}  // namespace

ToolRun run_tool(const std::vector<std::string>& args, bool err_on_terminal) {
  TempDir dir;
  const std::string out_path = dir / "out", err_path = dir / "err";
  std::vector<std::string> words{KRT_TOOL_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  // Only the images named on the command line: no environment list.
  ::setenv("VENDREL_DISKS", "", 1);
  int master = -1, slave = -1;
  if (err_on_terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {-1, "", "openpty failed"};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (err_on_terminal) posix_spawn_file_actions_adddup2(&actions, slave, 2);
  else posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {-1, "", "spawn failed"};

  ToolRun r{};
  if (err_on_terminal) {
    ::close(slave);
    char buf[4096];
    for (;;) {  // until the child's side closes (EIO), so the terminal never fills up
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) r.err.append(buf, size_t(n));
      else if (n < 0 && errno == EINTR) continue;
      else break;
    }
    ::close(master);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = exit_status(status);
  r.out = read_file(out_path);
  if (!err_on_terminal) r.err = read_file(err_path);
  return r;
}

TempDir::TempDir() {
  if (dir().empty()) ADD_FAILURE() << "could not make a scratch folder";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const Images& Images::get() {
  static const Images images;
  return images;
}

Images::Images() {
  disks = {first_disk(), second_disk()};
  for (size_t i = 0; i < disks.size(); ++i) {
    std::string name = "disk";
    name += std::to_string(i);
    paths.push_back(dir_ / name.append(".img"));
    built.push_back(kb::build_image(disks[i], paths.back()));
    EXPECT_TRUE(built.back().ok) << built.back().error;
    ::chmod(paths.back().c_str(), 0444);
  }
}

std::vector<std::string> Images::args(std::vector<std::string> args) const {
  std::vector<std::string> out;
  for (const std::string& p : paths) out.insert(out.end(), {"-d", p});
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

std::vector<Placed> Images::recordings(int disk, int slot, int year, int month, int day, int channel) const {
  std::vector<Placed> out;
  const kb::Partition& part = disks[size_t(disk)].partitions[size_t(slot)];
  const kb::PartitionReport& report = built[size_t(disk)].partitions[size_t(slot)];
  for (size_t i = 0; i < part.files.size(); ++i) {
    const krt::TimeFields t = krt::unpack_time(part.files[i].start);
    if (part.files[i].channel == channel && t.year == year && t.month == month && t.day == day)
      out.push_back({disk, slot, &part.files[i], &report.files[i]});
  }
  std::stable_sort(out.begin(), out.end(), [](const Placed& a, const Placed& b) { return a.file->start < b.file->start; });
  return out;
}

std::string Images::name(const Placed& r) {
  char text[krt::kRecordingNameBytes];
  krt::format_recording_name(text, sizeof text, r.file->start, r.file->end, r.file->type, r.place->first_cluster,
                             r.place->repeat_no, r.file->av != 0);
  return text;
}

uint64_t Images::size(const Placed& r) {
  return uint64_t(r.place->size_sectors >> 1) * 1024 - uint64_t(r.place->header_sectors) * 512;
}

std::string shell(const std::string& command) {
  bool ok = false;
  std::string out = krt_testing::shell_output(command, &ok);
  return ok ? out : std::string();
}

ToolRun krt_on(const std::string& image, std::vector<std::string> args) {
  args.insert(args.begin(), {"-d", image});
  return run_tool(args);
}

std::string first_entry(const std::string& image, const std::string& folder) {
  const ToolRun r = krt_on(image, {"ls", folder});
  EXPECT_EQ(r.status, 0) << folder << ": " << r.err;
  return r.out.substr(0, r.out.find_first_of("\t\n"));
}

const StreamRecording kStreamRecordings[3] = {
    // A program stream as recorders write it: H.264 with B pictures and MP2 sound.
    {"program stream", "-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i sine=sample_rate=32000 "
     "-t 2 -c:v libx264 -preset ultrafast -bf 2 -g 25 -c:a mp2 -f mpeg", 0, 0, 50},
    // A raw H.264 elementary stream without sound.
    {"raw H.264", "-f lavfi -i testsrc2=size=176x144:rate=25 -t 1 -c:v libx264 -preset ultrafast "
     "-f h264", 1, 0, 25},
    // A program stream behind a recorder's header, which the adapter hides.
    {"behind a header", "-f lavfi -i testsrc=size=176x144:rate=25 -t 1 -c:v libx264 -preset ultrafast "
     "-bf 2 -f mpeg", 2, 3, 25},
};

namespace {

// Makes a stream with the ffmpeg command line (`ffmpeg -y ARGS FILE`). False when that failed.
bool ffmpeg_make(const std::string& args, const std::string& file) {
  return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + file +
                      "' >/dev/null 2>&1").c_str()) == 0;
}

// Recorders write whole kilobytes and the adapter reads recordings in whole kilobytes: pads the
// stream with zeros so that it and its header end on a kilobyte.
void pad_to_whole_kilobytes(const std::string& file, uint32_t header_sectors) {
  const uint64_t size = std::filesystem::file_size(file) + header_sectors * 512;
  std::ofstream(file, std::ios::binary | std::ios::app) << std::string((1024 - size % 1024) % 1024, '\0');
}

}  // namespace

const StreamImage& StreamImage::get() {
  static const StreamImage image;
  return image;
}

StreamImage::StreamImage() : image(dir_ / "streams.img") {
  kb::Disk disk = kb::single_partition_disk(200000, 64);
  for (const StreamRecording& r : kStreamRecordings) {
    const std::string file = stream(r.channel);
    if (!ffmpeg_make(r.ffmpeg, file)) return;
    pad_to_whole_kilobytes(file, r.header_sectors);
    kb::File f;
    f.channel = static_cast<uint8_t>(r.channel);
    f.start = kb::pack_time(2010, 3, 5, 8, 0, 0);
    f.end = kb::pack_time(2010, 3, 5, 8, 0, 2);
    f.header_sectors = r.header_sectors;
    if (!kb::fit_to_stream(f, file, 64)) return;
    disk.partitions[0].files.push_back(f);
  }
  const kb::BuildResult built = kb::build_image(disk, image);
  EXPECT_TRUE(built.ok) << built.error;
  ready = built.ok;
}

std::string StreamImage::stream(int channel) const { return dir_ / ("ch" + std::to_string(channel)); }

std::string StreamImage::recording_path(int channel) const {
  char folder[48];
  std::snprintf(folder, sizeof folder, "/mnt/idea0/2010-03-05/%03d", channel + 1);
  return std::string(folder) + "/" + first_entry(image, folder);
}

}  // namespace tool_test
