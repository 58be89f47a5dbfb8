// The ordered list of disk candidates: program images, VENDREL_DISKS, Disks/, block devices.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <regex>
#include <system_error>

#include "krt/disk.h"
#include "krt/lock.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

DiskSources g_sources;  // protected by library_lock()

// Folder of the running program, from /proc/self/exe; empty when it cannot be read.
fs::path program_directory() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

void add_environment_images(std::vector<std::string>& out) {
  const char* list = std::getenv("VENDREL_DISKS");
  if (!list) return;
  const std::string text(list);
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = std::min(text.find(':', begin), text.size());
    if (end > begin) out.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
}

// The folder "Disks/" next to the program; empty when the program's folder is unknown.
fs::path program_image_folder() {
  const fs::path dir = program_directory();
  return dir.empty() ? fs::path() : dir / "Disks";
}

void add_program_folder_images(std::vector<std::string>& out) {
  const fs::path folder = program_image_folder();
  if (folder.empty()) return;
  std::error_code ec;
  std::vector<std::string> files;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_regular_file(type_ec)) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  out.insert(out.end(), files.begin(), files.end());
}

// Whether a /sys/block entry is a whole disk the viewer may read: a SCSI/SATA/USB disk, a
// virtual disk, an NVMe namespace, an MMC card (not its boot or RPMB areas) or a loop device
// that has a file behind it.
bool is_whole_disk(const std::string& name) {
  static const std::regex kDisk("sd[a-z]+|vd[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+");
  static const std::regex kLoop("loop[0-9]+");
  if (std::regex_match(name, kDisk)) return true;
  std::error_code ec;
  return std::regex_match(name, kLoop) &&
         fs::exists(fs::path("/sys/block") / name / "loop" / "backing_file", ec);
}

void add_block_devices(std::vector<std::string>& out) {
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it("/sys/block", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (is_whole_disk(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const std::string& name : names) out.push_back("/dev/" + name);
}

}  // namespace

void set_disk_sources(DiskSources sources) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_sources = std::move(sources);
}

void set_disk_candidates(std::vector<std::string> images) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_sources.images = std::move(images);
}

std::vector<std::string> given_disk_images() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_sources.images;
}

std::vector<std::string> disk_candidates() {
  DiskSources sources;
  {
    std::lock_guard<std::recursive_mutex> hold(library_lock());
    sources = g_sources;
  }
  std::vector<std::string> out = sources.images;
  if (sources.environment) add_environment_images(out);
  if (sources.program_folder) add_program_folder_images(out);
  if (sources.block_devices) add_block_devices(out);
  if (out.size() > size_t(kMaxCandidates)) out.resize(kMaxCandidates);
  return out;
}

std::vector<std::string> disk_image_folders() {
  DiskSources sources;
  {
    std::lock_guard<std::recursive_mutex> hold(library_lock());
    sources = g_sources;
  }
  std::vector<std::string> images = sources.images;
  if (sources.environment) add_environment_images(images);
  std::vector<std::string> out;
  std::error_code ec;
  for (const std::string& image : images) {
    const fs::path folder = fs::absolute(image, ec).parent_path();
    if (!ec && !folder.empty() && !folder.string().starts_with("/dev")) out.push_back(folder.string());
  }
  if (sources.program_folder) {
    const fs::path folder = program_image_folder();
    if (!folder.empty()) out.push_back(folder.string());
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace krt
