// Attaching recorder disks, the handle table and the default sector hooks.
#include "krt/disk.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "krt/image_source.h"
#include "krt/lock.h"
#include "krt/log.h"

namespace krt {
namespace {

template <typename T, size_t N>
constexpr std::array<T, N> filled(T value) {
  std::array<T, N> a{};
  a.fill(value);
  return a;
}

// All protected by library_lock().
DiskInfo g_info{0, 4, 0, 0, {}};
std::unique_ptr<ImageSource> g_images[kMaxDisks];  // null = no disk at that index
constinit std::array<int32_t, kMaxCandidates> g_drive_numbers = filled<int32_t, kMaxCandidates>(-1);
std::string g_sources[kMaxDisks];                  // path of each disk index
std::vector<DiskRefusal> g_refusals;               // sets refused by the last attach
std::vector<CandidateReport> g_reports;            // every candidate of the last attach
uint64_t g_generation = 0;                         // see disk_set_generation
DiskHooks g_hooks{disk_read_sectors, disk_write_sectors};

// Whether a sector 0 carries the tag of a recorder disk.
bool has_krt_tag(const uint8_t* sector0) { return std::memcmp(sector0, "KRT", 3) == 0; }

// The name of group gid; empty when it has none.
std::string group_name(gid_t gid) {
  char buffer[4096];
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) != 0 || !found) return {};
  return found->gr_name;
}

// A report for a candidate that did not give an image source: why it does not open.
CandidateReport unopened_report(const std::string& path, std::string refusal) {
  CandidateReport report;
  report.path = path;
  struct stat st{};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  report.block_device = exists && S_ISBLK(st.st_mode);
  if (!refusal.empty()) {
    report.verdict = CandidateReport::refused;
    report.detail = std::move(refusal);
    return report;
  }
  if (exists && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    // A FIFO would wait for a writer, a folder is no image: neither is opened.
    report.detail = "neither a file nor a block device";
    return report;
  }
  // Only asks whether it opens (non-blocking: nothing of it is read).
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const int error = errno;
  if (fd >= 0) {
    ::close(fd);
    report.detail = "no usable image";
  } else if (error == EACCES || error == EPERM) {
    report.verdict = CandidateReport::permission_denied;
    if (exists && (st.st_mode & S_IRGRP)) report.group = group_name(st.st_gid);
  } else {
    report.detail = std::strerror(error);
  }
  return report;
}

// A report for a candidate that opened.
CandidateReport opened_report(const std::string& path, bool attached) {
  CandidateReport report;
  report.path = path;
  struct stat st{};
  report.block_device = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  report.verdict = attached ? CandidateReport::attached : CandidateReport::not_recorder_disk;
  return report;
}

}  // namespace

void detach_disks() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int i = 0; i < kMaxDisks; ++i) {
    g_images[i].reset();
    g_sources[i].clear();
  }
  g_refusals.clear();
  g_reports.clear();
  g_info = DiskInfo{};
  g_info.ide_port = 4;
  g_drive_numbers.fill(-1);
  ++g_generation;
}

int attach_disks() {
  const std::vector<std::string> candidates = disk_candidates();
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  detach_disks();
  uint8_t sector0[kSectorBytes];
  for (size_t n = 0; n < candidates.size() && g_info.ide_num < kMaxDisks; ++n) {
    SourceOpen opened = open_image_source(candidates[n]);
    if (!opened.refusal.empty()) {
      log_warn("disk candidate %s refused: %s\n", candidates[n].c_str(), opened.refusal.c_str());
      g_refusals.push_back({candidates[n], opened.refusal});
    }
    if (!opened.source) {
      g_reports.push_back(unopened_report(candidates[n], std::move(opened.refusal)));
      continue;
    }
    const int disk = g_info.ide_num;
    g_images[disk] = std::move(opened.source);
    const bool tagged = g_hooks.read(uint16_t(disk), 1, 0, 0, sector0) == 0 && has_krt_tag(sector0);
    g_reports.push_back(opened_report(candidates[n], tagged));
    if (!tagged) {
      g_images[disk].reset();
      continue;
    }
    g_drive_numbers[size_t(disk)] = int32_t(n);
    g_sources[disk] = candidates[n];
    g_info.cap[disk] = g_images[disk]->size() / kSectorBytes;
    ++g_info.ide_num;
  }
  return 0;
}

int32_t get_disk_info(DiskInfo* out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (out) *out = g_info;
  return g_info.ide_num;
}

int32_t count_attached_disks() {
  int32_t count = 0;
  uint8_t sector0[kSectorBytes];
  for (const std::string& path : disk_candidates()) {
    if (count == kMaxDisks) break;
    const SourceOpen opened = open_image_source(path);
    if (!opened.source) continue;
    if (opened.source->read(sector0, sizeof sector0, 0) && has_krt_tag(sector0)) {
      log_trace("DISK:%s attached!\n", path.c_str());
      ++count;
    }
  }
  log_trace("Attached:%d disk\n", count);
  return count;
}

std::array<int32_t, kMaxCandidates> drive_numbers() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_drive_numbers;
}

std::string disk_source(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return disk >= 0 && disk < kMaxDisks ? g_sources[disk] : std::string();
}

DiskSourceInfo disk_source_info(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (disk < 0 || disk >= kMaxDisks || !g_images[disk]) return DiskSourceInfo{};
  const ImageSource& s = *g_images[disk];
  return DiskSourceInfo{g_sources[disk], s.format(), s.segments(), s.size()};
}

std::vector<DiskRefusal> disk_refusals() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_refusals;
}

std::vector<CandidateReport> candidate_reports() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_reports;
}

std::string describe_candidate(const CandidateReport& report) {
  std::string line = report.path + ": ";
  switch (report.verdict) {
    case CandidateReport::attached: return line + "recorder disk";
    case CandidateReport::not_recorder_disk: return line + "not a recorder disk";
    case CandidateReport::permission_denied: return line + "permission denied";
    case CandidateReport::refused: return line + "refused: " + report.detail;
    case CandidateReport::cannot_open: break;
  }
  return line + "cannot be opened: " + report.detail;
}

int disk_read_sectors(uint16_t disk, uint16_t count, uint32_t sector_lo, uint32_t sector_hi,
                      uint8_t* buf) {
  const uint64_t sector = (uint64_t(sector_hi) << 32) | sector_lo;
  // Offsets must fit a signed 64-bit file position.
  if (disk >= kMaxDisks || !g_images[disk] || sector >= (uint64_t(1) << 54)) {
    return -1;
  }
  return g_images[disk]->read(buf, size_t(count) * kSectorBytes, sector * kSectorBytes) ? 0 : -1;
}

int disk_write_sectors(uint16_t, uint16_t, uint32_t, uint32_t, const uint8_t*) { return 0; }

void set_disk_hooks(DiskHooks hooks) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_hooks.read = hooks.read ? hooks.read : disk_read_sectors;
  g_hooks.write = hooks.write ? hooks.write : disk_write_sectors;
  ++g_generation;
}

uint64_t disk_set_generation() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_generation;
}

DiskHooks disk_hooks() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_hooks;
}

DiskHooks default_disk_hooks() { return DiskHooks{disk_read_sectors, disk_write_sectors}; }

int disk_activate(int) { return 0; }

int disk_standby(int, int) { return 0; }

int set_standby_all(uint32_t, int) { return 0; }

}  // namespace krt
