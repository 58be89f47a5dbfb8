// Writes the seed corpora of the fuzzing targets: fuzz_seeds FOLDER makes FOLDER/mount,
// FOLDER/path and FOLDER/stream (existing files of the same names are replaced).
//
//   mount   the sample disk's metadata regions as built (the input that damages nothing);
//   path    every recording path and folder of the sample disk, relative to "/mnt/";
//   stream  demo clips (program stream and raw H.264) when the clip encoder is built in.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "damaged_disk.h"
#include "krt/volume.h"
#include "krt_testing/hostile_disk.h"
#include "catalog/listing.h"
#ifdef FUZZ_DEMO_CLIPS
#include "krt_testing/demo_disk.h"
#include "krt_testing/image_builder.h"
#include "recording_encoder.h"
#endif

namespace {

bool write_file(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool write_text(const std::string& path, const std::string& text) { return write_file(path, text.data(), text.size()); }

// Every folder and recording of the mounted sample disk, depth first.
void collect_paths(const TreePath& p, std::vector<std::string>& out) {
  std::vector<TreeEntry> children;
  std::string error;
  if (!list_folder(p, children, error)) return;
  for (const TreeEntry& child : children) {
    out.push_back(child.path.substr(5));  // without "/mnt/"
    TreePath below;
    if (p.level != Level::kChannel && parse_tree_path(child.path, below, error)) collect_paths(below, out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  for (const char* sub : {"", "/mount", "/path", "/stream"}) ::mkdir((dir + sub).c_str(), 0755);
  bool ok = true;

  const fuzz::SampleDisk& disk = fuzz::sample_disk();
  const std::vector<uint8_t> regions = fuzz::region_bytes(disk);
  ok &= write_file(dir + "/mount/as-built", regions.data(), regions.size());

  fuzz::quiet_library_log();
  fuzz::lay_input(disk, nullptr, 0);
  krt_testing::attach_only({disk.path});
  krt::volume_startup();
  TreePath root;
  std::string error;
  parse_tree_path("/mnt", root, error);
  std::vector<std::string> paths;
  collect_paths(root, paths);
  paths.push_back("idea0/WorkDirectory");
  paths.push_back("idea0/2010-03-05/001/*");
  for (size_t i = 0; i < paths.size(); ++i) ok &= write_text(dir + "/path/" + std::to_string(i), paths[i]);

#ifdef FUZZ_DEMO_CLIPS
  // Two GOPs (four seconds) of a demo recording in each stream kind, the program stream with
  // sound.
  for (auto [stream, name] : {std::pair{krt_testing::DemoStream::kProgramStream, "demo-ps"},
                              std::pair{krt_testing::DemoStream::kRawH264, "demo-h264"}}) {
    krt_testing::DemoRecording r;
    r.start = krt_testing::pack_time(2010, 3, 5, 8, 0, 0);
    r.end = krt_testing::pack_time(2010, 3, 5, 8, 0, 2 * krt_testing::kDemoGopSeconds);
    r.stream = stream;
    r.sound = stream == krt_testing::DemoStream::kProgramStream;
    std::string why;
    const std::vector<uint8_t> clip = krtdemo::encode_recording(r, why);
    if (clip.empty()) continue;  // no encoder here: the seeds of the other targets still count
    ok &= write_file(dir + "/stream/" + name, clip.data(), clip.size());
  }
#endif
  if (!ok) std::fprintf(stderr, "fuzz_seeds: cannot write the seeds into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
