// Attaching recorder disks, the handle table and the default sector hooks.
#include "krt/disk.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

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
constinit std::array<int, kMaxDisks> g_fds = filled<int, kMaxDisks>(-1);  // -1 = no handle
constinit std::array<int32_t, kMaxCandidates> g_drive_numbers = filled<int32_t, kMaxCandidates>(-1);
std::string g_sources[kMaxDisks];                  // path of each disk index
DiskHooks g_hooks{disk_read_sectors, disk_write_sectors};

int open_read_only(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

// Reads exactly bytes at offset; a short read is a failure. Returns true when all were read.
bool read_exact(int fd, void* buf, size_t bytes, off_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buf, bytes, offset);
  } while (n < 0 && errno == EINTR);
  return n >= 0 && size_t(n) == bytes;
}

// Whether a sector 0 carries the tag of a recorder disk.
bool has_krt_tag(const uint8_t* sector0) { return std::memcmp(sector0, "KRT", 3) == 0; }

// Capacity in sectors: the device size for a block device, the file length otherwise.
uint64_t capacity_sectors(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  uint64_t bytes = uint64_t(st.st_size);
  if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) != 0) bytes = 0;
  return bytes / kSectorBytes;
}

}  // namespace

void detach_disks() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int i = 0; i < kMaxDisks; ++i) {
    if (g_fds[i] >= 0) ::close(g_fds[i]);
    g_fds[i] = -1;
    g_sources[i].clear();
  }
  g_info = DiskInfo{};
  g_info.ide_port = 4;
  g_drive_numbers.fill(-1);
}

int attach_disks() {
  const std::vector<std::string> candidates = disk_candidates();
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  detach_disks();
  uint8_t sector0[kSectorBytes];
  for (size_t n = 0; n < candidates.size() && g_info.ide_num < kMaxDisks; ++n) {
    const int fd = open_read_only(candidates[n]);
    if (fd < 0) continue;
    const int disk = g_info.ide_num;
    g_fds[disk] = fd;
    if (g_hooks.read(uint16_t(disk), 1, 0, 0, sector0) != 0 || !has_krt_tag(sector0)) {
      ::close(fd);
      g_fds[disk] = -1;
      continue;
    }
    g_drive_numbers[size_t(disk)] = int32_t(n);
    g_sources[disk] = candidates[n];
    g_info.cap[disk] = capacity_sectors(fd);
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
    const int fd = open_read_only(path);
    if (fd < 0) continue;
    if (read_exact(fd, sector0, sizeof sector0, 0) && has_krt_tag(sector0)) {
      log_trace("DISK:%s attached!\n", path.c_str());
      ++count;
    }
    ::close(fd);
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

int disk_read_sectors(uint16_t disk, uint16_t count, uint32_t sector_lo, uint32_t sector_hi,
                      uint8_t* buf) {
  const uint64_t sector = (uint64_t(sector_hi) << 32) | sector_lo;
  // Offsets must fit a signed 64-bit file position.
  if (disk >= kMaxDisks || g_fds[disk] < 0 || sector >= (uint64_t(1) << 54)) {
    return -1;
  }
  return read_exact(g_fds[disk], buf, size_t(count) * kSectorBytes, off_t(sector * kSectorBytes))
             ? 0
             : -1;
}

int disk_write_sectors(uint16_t, uint16_t, uint32_t, uint32_t, const uint8_t*) { return 0; }

void set_disk_hooks(DiskHooks hooks) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_hooks.read = hooks.read ? hooks.read : disk_read_sectors;
  g_hooks.write = hooks.write ? hooks.write : disk_write_sectors;
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
