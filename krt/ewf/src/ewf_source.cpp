// E01 sets through libewf, with a check of each segment's own structure so that a refusal can
// name the segment at fault.
#include "krt/ewf_source.h"

#include <fcntl.h>
#include <libewf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "krt/endian.h"

namespace krt {
namespace {

// A segment file starts with a 13-byte header: the 8-byte signature, a byte 1, the segment
// number (16 bits), two zero bytes. Sections follow, each introduced by a 76-byte descriptor:
// type (16 bytes, text), offset of the next descriptor from the start of the file (64 bits),
// section size (64 bits), 40 bytes of padding, Adler-32 of the first 72 bytes. The last
// descriptor of a segment has type "next" (another segment follows) or "done" (the set ends)
// and points at itself.
constexpr uint8_t kSignature[8] = {'E', 'V', 'F', 0x09, 0x0d, 0x0a, 0xff, 0x00};
constexpr size_t kHeaderBytes = 13;
constexpr size_t kDescriptorBytes = 76;
constexpr size_t kDescriptorChecked = 72;
constexpr size_t kSegmentNumberAt = 9;
constexpr size_t kNextAt = 16;
constexpr size_t kChecksumAt = 72;

uint32_t adler32(const uint8_t* data, size_t size) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::string hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

bool ends_with_ci(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() > n && strncasecmp(s.c_str() + s.size() - n, suffix, n) == 0;
}

std::string libewf_message(libewf_error_t*& error) {
  char text[512] = "unknown error";
  if (error) {
    libewf_error_sprint(error, text, sizeof text);
    libewf_error_free(&error);
  }
  // libewf gives a backtrace one call per line: the last line says the most.
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  const size_t nl = s.rfind('\n');
  return nl == std::string::npos ? s : s.substr(nl + 1);
}

// The name of the segment after name: E01..E99, then EAA..EZZ, FAA..ZZZ.
std::string next_segment_name(const std::string& name) {
  std::string s = name;
  const size_t n = s.size();
  if (n < 3) return s;
  char* e = &s[n - 3];
  if (e[1] >= '0' && e[1] <= '9') {
    const int number = (e[1] - '0') * 10 + (e[2] - '0') + 1;
    if (number <= 99) {
      e[1] = char('0' + number / 10);
      e[2] = char('0' + number % 10);
    } else {
      const char a = (e[0] >= 'a' && e[0] <= 'z') ? 'a' : 'A';
      e[1] = e[2] = a;
    }
    return s;
  }
  for (int i = 2; i >= 0; --i) {
    const char a = (e[i] >= 'a' && e[i] <= 'z') ? 'a' : 'A';
    if (e[i] != a + 25) {
      ++e[i];
      break;
    }
    e[i] = a;
  }
  return s;
}

// Whether the regular file at path starts with the segment signature (never waits on a FIFO).
bool starts_with_signature(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  uint8_t head[sizeof kSignature] = {};
  const bool is = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
                  std::memcmp(head, kSignature, sizeof kSignature) == 0;
  ::close(fd);
  return is;
}

// Checks one segment file: readable, its signature and number, and its chain of section
// descriptors up to the closing "next" or "done". Returns an empty string when it is sound,
// else what is wrong; sets last to the closing type.
std::string check_segment(const std::string& name, int number, std::string& last) {
  // Never waits on a FIFO: only a regular file is a segment.
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return "is not a regular file";
  }
  const uint64_t size = uint64_t(st.st_size);
  auto read_at = [fd](uint8_t* buf, size_t bytes, uint64_t offset) {
    return ::pread(fd, buf, bytes, off_t(offset)) == ssize_t(bytes);
  };
  std::string problem;
  uint8_t header[kHeaderBytes];
  if (!read_at(header, sizeof header, 0) || std::memcmp(header, kSignature, sizeof kSignature) != 0) {
    problem = "does not start with the segment signature";
  } else if (ld16(header + kSegmentNumberAt) != number) {
    problem = "carries segment number " + std::to_string(ld16(header + kSegmentNumberAt)) +
              " instead of " + std::to_string(number);
  } else {
    uint64_t offset = kHeaderBytes;
    for (;;) {
      uint8_t d[kDescriptorBytes];
      if (offset + kDescriptorBytes > size || !read_at(d, sizeof d, offset)) {
        // The file's own length, and where the section it lacks should have been.
        problem = "is cut short at byte " + std::to_string(size) + " (its section at byte " +
                  std::to_string(offset) + " is missing)";
        break;
      }
      if (adler32(d, kDescriptorChecked) != ld32(d + kChecksumAt)) {
        problem = "has a damaged section at byte " + std::to_string(offset);
        break;
      }
      const std::string type(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 16));
      const uint64_t next = ld64(d + kNextAt);
      if (type == "next" || type == "done") {
        last = type;
        break;
      }
      // Offsets only grow, so the walk ends.
      if (next <= offset) {
        problem = "has a section chain that runs backwards at byte " + std::to_string(offset);
        break;
      }
      offset = next;
    }
  }
  ::close(fd);
  return problem;
}

// An open set.
class EwfSource final : public ImageSource {
 public:
  EwfSource(libewf_handle_t* handle, uint64_t size, int segments)
      : handle_(handle), size_(size), segments_(segments) {}
  ~EwfSource() override {
    libewf_handle_close(handle_, nullptr);
    libewf_handle_free(&handle_, nullptr);
  }
  EwfSource(const EwfSource&) = delete;
  EwfSource& operator=(const EwfSource&) = delete;

  bool read(void* buf, size_t bytes, uint64_t offset) override {
    if (offset > size_ || bytes > size_ - offset) return false;
    libewf_error_t* error = nullptr;
    const ssize_t n = libewf_handle_read_random(handle_, buf, bytes, off64_t(offset), &error);
    if (error) libewf_error_free(&error);
    return n == ssize_t(bytes) && !touches_bad_chunk(offset, bytes);
  }
  uint64_t size() const override { return size_; }
  std::string format() const override { return "E01"; }
  int segments() const override { return segments_; }
  std::vector<std::pair<std::string, std::string>> stored_digests() const override {
    std::vector<std::pair<std::string, std::string>> out;
    uint8_t md5[16], sha1[20];
    if (libewf_handle_get_md5_hash(handle_, md5, sizeof md5, nullptr) == 1) out.emplace_back("MD5", hex(md5, sizeof md5));
    if (libewf_handle_get_sha1_hash(handle_, sha1, sizeof sha1, nullptr) == 1)
      out.emplace_back("SHA1", hex(sha1, sizeof sha1));
    return out;
  }

 private:
  // Whether the byte range overlaps a range of sectors whose chunk checksum failed.
  bool touches_bad_chunk(uint64_t offset, size_t bytes) {
    uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle_, &count, nullptr) != 1) return true;
    const uint64_t first = offset / 512, end = (offset + bytes + 511) / 512;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t start = 0, sectors = 0;
      if (libewf_handle_get_checksum_error(handle_, i, &start, &sectors, nullptr) != 1) return true;
      if (start < end && first < start + sectors) return true;
    }
    return false;
  }

  libewf_handle_t* handle_;
  uint64_t size_;
  int segments_;
};

SourceOpen refuse(const std::string& message) { return SourceOpen{nullptr, message}; }

// Opens the set of path: its segments found by name (libewf_glob) when it is named NAME.E01,
// else path alone (a set of one segment renamed).
SourceOpen open_ewf(const std::string& path) {
  libewf_error_t* error = nullptr;
  char** names = nullptr;
  int count = 0;
  const bool named = ends_with_ci(path, ".E01");
  std::string alone = path;
  char* alone_names[1] = {alone.data()};
  if (!named) {
    names = alone_names;
    count = 1;
  } else if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1) {
    return refuse("segment " + path + ": " + libewf_message(error));
  }
  struct NamesGuard {
    char**& names;
    int& count;
    bool globbed;
    ~NamesGuard() {
      if (names && globbed) libewf_glob_free(names, count, nullptr);
    }
  } names_guard{names, count, named};
  if (count < 1 || count > 0xffff) return refuse("segment " + path + " cannot be read");
  for (int i = 0; i < count; ++i) {
    std::string last;
    const std::string problem = check_segment(names[i], i + 1, last);
    if (!problem.empty()) return refuse(std::string("segment ") + names[i] + " " + problem);
    if (i + 1 == count && last != "done" && !named) {
      return refuse("segment " + path + " is the first of a set that goes on: its other segments are found when it "
                    "is named NAME.E01");
    }
    if (i + 1 == count && last != "done") {
      return refuse("segment " + next_segment_name(names[i]) + " is missing");
    }
  }
  libewf_handle_t* handle = nullptr;
  if (libewf_handle_initialize(&handle, &error) != 1) return refuse(path + ": " + libewf_message(error));
  if (libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &error) != 1) {
    const std::string message = libewf_message(error);
    libewf_handle_free(&handle, nullptr);
    return refuse("the set of " + path + " cannot be opened: " + message);
  }
  size64_t media = 0;
  const bool sized = libewf_handle_get_media_size(handle, &media, &error) == 1;
  const bool damaged = libewf_handle_segment_files_corrupted(handle, nullptr) != 0;
  if (error) libewf_error_free(&error);
  auto source = std::make_unique<EwfSource>(handle, uint64_t(media), count);
  if (!sized) return refuse("the set of " + path + " does not tell its size");
  if (damaged) return refuse("the set of " + path + " is damaged (libewf marks its segments corrupted)");
  return SourceOpen{std::move(source), ""};
}

}  // namespace

SourceOpen open_ewf_source(const std::string& path) {
  if (ends_with_ci(path, ".Ex01")) {
    return refuse("segment " + path + " is in the format's second version, which libewf here cannot read");
  }
  // A first segment that does not exist is no candidate at all, like any missing file.
  if (::access(path.c_str(), F_OK) != 0) return {};
  // Any other name is an E01 segment when its content starts with the signature.
  if (!ends_with_ci(path, ".E01") && !starts_with_signature(path)) return {};
  return open_ewf(path);
}

void install_ewf_source() { register_source_opener(open_ewf_source); }

}  // namespace krt
