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
#include <optional>
#include <string>
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

// How the segments of a split raw set are named, told from the first segment's suffix:
//   NAME.001, NAME.002, ...  digits (3 to 9 of them, all segments the same width) from 1;
//   NAME.000, NAME.001, ...  the same from 0;
//   NAME.aa, NAME.ab, ... NAME.az, NAME.ba, ...  two letters, as split(1) names them.
struct SegmentNaming {
  std::string stem;   // the path before the suffix's dot
  bool letters = false;
  long first = 1;     // the number of the first segment (digits only)
  size_t width = 3;   // characters of the suffix

  // The path of segment k (0 = the first); empty past the last name the scheme has.
  std::string name(long k) const {
    if (letters) {
      if (k < 0 || k >= 26 * 26) return {};
      return stem + "." + char('a' + k / 26) + char('a' + k % 26);
    }
    std::string digits = std::to_string(first + k);
    if (digits.size() > width) return {};
    digits.insert(0, width - digits.size(), '0');
    return stem + "." + digits;
  }

  // The segment index a suffix (the text after the dot) names; -1 when it is none of the set's.
  long index(const std::string& suffix) const {
    if (suffix.size() != width) return -1;
    if (letters) {
      if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return -1;
      return (suffix[0] - 'a') * 26 + (suffix[1] - 'a');
    }
    if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
    const long number = std::stol(suffix);
    return number >= first ? number - first : -1;
  }
};

// The naming of the set whose first segment is path: its suffix is "aa", "000" or "001" (or
// the 1 and 0 with more digits, up to 9). Nothing for any other name.
std::optional<SegmentNaming> first_segment_naming(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  const std::string suffix = path.substr(dot + 1);
  SegmentNaming naming{path.substr(0, dot), false, 1, suffix.size()};
  if (suffix == "aa") {
    naming.letters = true;
    naming.first = 0;
    return naming;
  }
  if (suffix.size() < 3 || suffix.size() > 9 ||
      !std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const long number = std::stol(suffix);
  if (number > 1) return std::nullopt;
  naming.first = number;
  return naming;
}

// The highest segment index in the folder of the set that belongs to it; -1 when there is
// none or the folder cannot be read.
long highest_segment(const SegmentNaming& naming) {
  const size_t slash = naming.stem.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : naming.stem.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? naming.stem : naming.stem.substr(slash + 1);
  long highest = -1;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return -1;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= base.size() + 1 || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '.')
      continue;
    highest = std::max(highest, naming.index(name.substr(base.size() + 1)));
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
  const std::optional<SegmentNaming> naming = first_segment_naming(path);
  if (!naming) return {};
  // NAME.001 beside a NAME.000 is the second segment of the set that starts there: read alone
  // as a first segment, every byte would be taken from the wrong place.
  if (!naming->letters && naming->first == 1) {
    SegmentNaming from_zero = *naming;
    from_zero.first = 0;
    struct stat st {};
    if (::stat(from_zero.name(0).c_str(), &st) == 0)
      return {nullptr, "segment " + path + " follows " + from_zero.name(0) + ": name the set by its first segment"};
  }
  std::vector<SplitSource::Segment> segments;
  auto close_all = [&segments] {
    for (const SplitSource::Segment& s : segments) ::close(s.fd);
    segments.clear();
  };
  uint64_t start = 0;
  long k = 0;
  for (;; ++k) {
    const std::string name = naming->name(k);
    if (name.empty()) break;  // the scheme has no further name
    const int fd = open_read_only(name);
    if (fd < 0) {
      const int error = errno;
      if (k == 0) return {};
      if (error == ENOENT) break;
      close_all();
      return {nullptr, "segment " + name + " cannot be read: " + std::strerror(error)};
    }
    const uint64_t size = byte_size(fd);
    segments.push_back({fd, start, size});
    start += size;
  }
  if (highest_segment(*naming) >= k) {
    close_all();
    return {nullptr, "segment " + naming->name(k) + " is missing"};
  }
  // Every segment but the last is as long as the first: a shorter or longer one would shift
  // every byte after it, so the set is refused rather than read at the wrong offsets.
  for (size_t i = 1; i + 1 < segments.size(); ++i) {
    if (segments[i].size == segments[0].size) continue;
    const std::string problem = "segment " + naming->name(long(i)) + " is " +
                                std::to_string(segments[i].size) + " bytes, but segment " + path + " is " +
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
