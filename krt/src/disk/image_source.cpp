// Image sources: devices and plain files, split raw images, and the table of registered openers.
#include "krt/image_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "krt/lock.h"

namespace krt {
namespace {

LevelledMutex g_openers_mutex{LockLevel::kLeaf};  // guards g_openers
std::vector<SourceOpener> g_openers;   // registered openers, asked first

// Reads exactly bytes at offset; a short read is a failure. Returns true when all were read.
bool pread_exact(int fd, void* buf, size_t bytes, uint64_t offset) {
  if (offset > uint64_t(INT64_MAX) - bytes) return false;
  auto* p = static_cast<uint8_t*>(buf);
  while (bytes > 0) {
    const ssize_t n = ::pread(fd, p, bytes, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    bytes -= size_t(n);
    offset += uint64_t(n);
  }
  return true;
}

// Bytes of an open file or block device; 0 when they cannot be told.
uint64_t byte_size(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  uint64_t bytes = uint64_t(st.st_size);
  if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) != 0) bytes = 0;
  return bytes;
}

bool is_block_device(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

// Opens a regular file or a block device read-only. Anything else (a FIFO, which would wait
// for a writer, a socket, a folder, a character device) is not an image: -1 with errno set.
// O_NONBLOCK keeps the open itself from waiting on a FIFO; it changes nothing for files and
// disks.
int open_read_only(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  return fd;
}

// A block device or one image file, read with pread().
class PlainSource final : public ImageSource {
 public:
  explicit PlainSource(int fd) : fd_(fd), size_(byte_size(fd)), device_(is_block_device(fd)) {}
  ~PlainSource() override { ::close(fd_); }
  PlainSource(const PlainSource&) = delete;
  PlainSource& operator=(const PlainSource&) = delete;

  bool read(void* buf, size_t bytes, uint64_t offset) override {
    return pread_exact(fd_, buf, bytes, offset);
  }
  uint64_t size() const override { return size_; }
  std::string format() const override { return device_ ? "device" : "raw"; }
  int segments() const override { return 1; }

 private:
  int fd_;
  uint64_t size_;
  bool device_;
};

// A raw image cut into segment files, read as their concatenation.
class SplitSource final : public ImageSource {
 public:
  struct Segment {
    int fd;
    uint64_t start;  // offset of its first byte in the whole image
    uint64_t size;
  };

  explicit SplitSource(std::vector<Segment> segments) : segments_(std::move(segments)) {}
  ~SplitSource() override {
    for (const Segment& s : segments_) ::close(s.fd);
  }
  SplitSource(const SplitSource&) = delete;
  SplitSource& operator=(const SplitSource&) = delete;

  bool read(void* buf, size_t bytes, uint64_t offset) override {
    if (offset > size() || bytes > size() - offset) return false;
    auto* p = static_cast<uint8_t*>(buf);
    // The segment holding offset: the last one that starts at or before it.
    auto it = std::upper_bound(segments_.begin(), segments_.end(), offset,
                               [](uint64_t o, const Segment& s) { return o < s.start; });
    while (bytes > 0) {
      if (it == segments_.begin()) return false;
      const Segment& s = *(it - 1);
      const uint64_t within = offset - s.start;
      const size_t take = size_t(std::min<uint64_t>(bytes, s.size - within));
      if (take > 0 && !pread_exact(s.fd, p, take, within)) return false;
      p += take;
      bytes -= take;
      offset += take;
      ++it;
    }
    return true;
  }
  uint64_t size() const override {
    return segments_.empty() ? 0 : segments_.back().start + segments_.back().size;
  }
  std::string format() const override { return "split raw"; }
  int segments() const override { return int(segments_.size()); }

 private:
  std::vector<Segment> segments_;
};

// The number a segment name carries after its last '.', when that suffix is all digits of
// exactly width characters (width 0: any width of 3 or more). -1 otherwise.
long segment_number(const std::string& name, size_t dot, size_t width) {
  const std::string digits = name.substr(dot + 1);
  if (digits.empty() || digits.size() > 9 || (width ? digits.size() != width : digits.size() < 3))
    return -1;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  return std::stol(digits);
}

std::string segment_name(const std::string& stem, long number, size_t width) {
  std::string digits = std::to_string(number);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return stem + "." + digits;
}

// The highest segment number in the folder of stem that belongs to the set ("stem.NNN" with
// width digits); 0 when there is none or the folder cannot be read.
long highest_segment(const std::string& stem, size_t width) {
  const size_t slash = stem.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : stem.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? stem : stem.substr(slash + 1);
  long highest = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= base.size() + 1 || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '.')
      continue;
    highest = std::max(highest, segment_number(name, base.size(), width));
  }
  ::closedir(dir);
  return highest;
}

}  // namespace

void register_source_opener(SourceOpener opener) {
  std::lock_guard<LevelledMutex> hold(g_openers_mutex);
  if (opener && std::find(g_openers.begin(), g_openers.end(), opener) == g_openers.end())
    g_openers.push_back(opener);
}

std::unique_ptr<ImageSource> open_plain_source(const std::string& path) {
  const int fd = open_read_only(path);
  if (fd < 0) return nullptr;
  return std::make_unique<PlainSource>(fd);
}

SourceOpen open_split_raw_source(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos ||
      segment_number(path, dot, 0) != 1)
    return {};
  const size_t width = path.size() - dot - 1;
  const std::string stem = path.substr(0, dot);
  std::vector<SplitSource::Segment> segments;
  auto close_all = [&segments] {
    for (const SplitSource::Segment& s : segments) ::close(s.fd);
    segments.clear();
  };
  uint64_t start = 0;
  long number = 1;
  for (;; ++number) {
    const std::string name = segment_name(stem, number, width);
    const int fd = open_read_only(name);
    if (fd < 0) {
      const int error = errno;
      if (number == 1) return {};
      if (error == ENOENT) break;
      close_all();
      return {nullptr, "segment " + name + " cannot be read: " + std::strerror(error)};
    }
    const uint64_t size = byte_size(fd);
    segments.push_back({fd, start, size});
    start += size;
  }
  if (highest_segment(stem, width) >= number) {
    close_all();
    return {nullptr, "segment " + segment_name(stem, number, width) + " is missing"};
  }
  // Every segment but the last is as long as the first: a shorter or longer one would shift
  // every byte after it, so the set is refused rather than read at the wrong offsets.
  for (size_t k = 1; k + 1 < segments.size(); ++k) {
    if (segments[k].size == segments[0].size) continue;
    const std::string problem = "segment " + segment_name(stem, long(k) + 1, width) + " is " +
                                std::to_string(segments[k].size) + " bytes, but segment " + path + " is " +
                                std::to_string(segments[0].size) + " (segments before the last are all of one size)";
    close_all();
    return {nullptr, problem};
  }
  return {std::make_unique<SplitSource>(std::move(segments)), ""};
}

SourceOpen open_image_source(const std::string& path) {
  std::vector<SourceOpener> openers;
  {
    std::lock_guard<LevelledMutex> hold(g_openers_mutex);
    openers = g_openers;
  }
  for (SourceOpener opener : openers) {
    SourceOpen r = opener(path);
    if (r.source || !r.refusal.empty()) return r;
  }
  SourceOpen split = open_split_raw_source(path);
  if (split.source || !split.refusal.empty()) return split;
  return {open_plain_source(path), ""};
}

}  // namespace krt
