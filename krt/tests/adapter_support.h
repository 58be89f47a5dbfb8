// Helpers for the tests of the "/mnt" adapter and the volume start-up: images brought up with
// volume_startup, listings and whole-file reads through CFSFile / CFSFileFind, and what the
// image builder says each recording should read as.
#pragma once

#include <string>
#include <vector>

#include "krt/packed_time.h"
#include "krt/recording_path.h"
#include "krt/volume.h"
#include "mount_support.h"
#include "vfs/filetable.h"
#include "vfs/fsfile.h"
#include "vfs/fsfilefind.h"

namespace krt::test {

class AdapterTest : public MountTest {
 protected:
  // Builds and attaches the disks, then runs the volume start-up over them.
  void up(const std::vector<kb::Disk>& disks) {
    attach(disks);
    volume_startup();
  }
};

// Lists pattern through the find slots of the operations that answer for it (the find
// record in full, size in bytes included); empty when find first fails.
inline std::vector<FSFindData> list(const std::string& pattern) {
  std::vector<FSFindData> out;
  const FileOps* ops = FindFileOps(pattern.c_str());
  FSFindData data{};
  const FSFindHandle find = ops->find_first(pattern.c_str(), &data);
  if (find == VFS_FIND_NONE) return out;
  do out.push_back(data);
  while (ops->find_next(find, &data) == 0);
  EXPECT_EQ(ops->find_close(find), 0);
  return out;
}

// The names of a listing.
inline std::vector<std::string> names(const std::vector<FSFindData>& listing) {
  std::vector<std::string> out;
  for (const FSFindData& d : listing) out.emplace_back(d.name);
  return out;
}

// Reads the whole file with CFSFile in chunks of `chunk` bytes. Sets ok to false when it does
// not open.
inline std::vector<uint8_t> read_all(const std::string& path, uint32_t chunk, bool& ok) {
  std::vector<uint8_t> out;
  CFSFile file;
  ok = file.Open(path.c_str(), CFSFile::modeRead);
  if (!ok) return out;
  std::vector<uint8_t> buf(chunk);
  for (;;) {
    const uint32_t n = file.Read(buf.data(), chunk);
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    if (n < chunk) break;
  }
  return out;
}

// What a recording reads as: its bytes after the header, cut to a whole number of kilobytes of
// the file's sector count.
inline std::vector<uint8_t> expected_content(const kb::FilePlacement& f) {
  std::vector<uint8_t> bytes = kb::expected_bytes(f);
  bytes.resize(size_t(f.size_sectors >> 1) * 1024, 0xFF);
  bytes.erase(bytes.begin(), bytes.begin() + std::min(bytes.size(), size_t(f.header_sectors) * 512));
  return bytes;
}

// The file component the listing gives a recording.
inline std::string expected_name(const kb::File& f, const kb::FilePlacement& p) {
  char name[kRecordingNameBytes];
  format_recording_name(name, sizeof name, f.start, f.end, f.type, p.first_cluster, p.repeat_no, f.av != 0);
  return name;
}

}  // namespace krt::test
