// The demo image file and its write hook.
#include "image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "krt/disk.h"

namespace krtdemo {
namespace {

// The file the hook writes to, and the disk index it answers for (library_lock() held by the
// library around every hook call).
int g_fd = -1;
int g_disk = -1;

bool all_zero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

bool write_fully(int fd, const uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, at);
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
    at += w;
  }
  return true;
}

int write_hook(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, const uint8_t* buf) {
  if (g_fd < 0 || int(disk) != g_disk) return -1;
  const size_t n = size_t(count) * krt::kSectorBytes;
  const off_t at = off_t((uint64_t(hi) << 32 | lo) * krt::kSectorBytes);
  if (all_zero(buf, n) && ::fallocate(g_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, off_t(n)) == 0) return 0;
  return write_fully(g_fd, buf, n, at) ? 0 : -1;
}

}  // namespace

ImageFile::~ImageFile() { close(); }

bool ImageFile::create(const std::string& path, uint64_t sectors, std::string& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_uid != ::geteuid()) {
      error = path + " exists and is not a regular file of this user";
      return false;
    }
    fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)) {
      ::close(fd);
      error = path + " changed while it was opened";
      return false;
    }
    if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (::ftruncate(fd, off_t(sectors * krt::kSectorBytes)) != 0) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool ImageFile::write_sector(uint64_t sector, const uint8_t* bytes) {
  return fd_ >= 0 && write_fully(fd_, bytes, krt::kSectorBytes, off_t(sector * krt::kSectorBytes));
}

void ImageFile::install_hook(int disk) {
  g_fd = fd_;
  g_disk = disk;
  krt::DiskHooks hooks = krt::default_disk_hooks();
  hooks.write = write_hook;
  krt::set_disk_hooks(hooks);
}

bool ImageFile::close() {
  if (g_fd == fd_ && fd_ >= 0) {
    krt::set_disk_hooks(krt::default_disk_hooks());
    g_fd = -1;
    g_disk = -1;
  }
  if (fd_ < 0) return true;
  const bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

}  // namespace krtdemo
