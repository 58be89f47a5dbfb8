// krt-mkimage: writes the demo disk image.
//
//   krt-mkimage [--stream FILE] [--no-data] [--force] IMAGE
//
// The image is a sparse file holding the demo disk's day (krt_testing/demo_disk.h). Recording
// data is a pattern that names its own place on the disk, or the bytes of FILE (each recording
// cut to its size); --no-data leaves it out. `krt mkdemo` makes the same disk with pictures. An existing
// IMAGE is only replaced with --force.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "krt_testing/demo_disk.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: krt-mkimage [--stream FILE] [--no-data] [--force] IMAGE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string stream, image;
  bool force = false, no_data = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--stream" && i + 1 < argc) {
      stream = argv[++i];
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--no-data") {
      no_data = true;
    } else if (arg.empty() || arg[0] == '-' || !image.empty()) {
      return usage();
    } else {
      image = arg;
    }
  }
  if (image.empty()) return usage();
  struct stat st;
  if (!force && ::lstat(image.c_str(), &st) == 0) {
    std::fprintf(stderr, "krt-mkimage: %s exists (use --force to replace it)\n", image.c_str());
    return 1;
  }
  std::vector<std::shared_ptr<const std::vector<uint8_t>>> payloads;
  if (!stream.empty()) {
    std::ifstream in(stream, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "krt-mkimage: cannot read %s\n", stream.c_str());
      return 1;
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    payloads.assign(krt_testing::demo_recordings().size(), bytes);
  }
  krt_testing::Disk disk = krt_testing::demo_disk(payloads);
  if (no_data) disk.payload.kind = krt_testing::Payload::Kind::kNone;
  const krt_testing::BuildResult built = krt_testing::build_image(disk, image);
  if (!built.ok) {
    std::fprintf(stderr, "krt-mkimage: %s\n", built.error.c_str());
    return 1;
  }
  std::printf("%s: %llu sectors, %zu partitions\n", image.c_str(), (unsigned long long)built.disk_sectors,
              built.partitions.size());
  return 0;
}
