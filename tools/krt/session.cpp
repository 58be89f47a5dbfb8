#include "session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "krt/disk_io.h"
#include "krt/layout.h"
#include "krt/log.h"
#include "krt/mount.h"
#include "krt/volume.h"
#include "catalog/text.h"
#include "catalog/clock_offset.h"
#include "catalog/json.h"

namespace {

bool g_json_errors = false;  // --json: messages as JSON objects

// One message on standard error: "krt: [kind: ]text", or {"kind": "text"} with --json.
void say(const char* kind, const std::string& text) {
  if (g_json_errors) std::fprintf(stderr, "{%s:%s}\n", json_quote(kind).c_str(), json_quote(text).c_str());
  else if (std::strcmp(kind, "error") == 0) std::fprintf(stderr, "krt: %s\n", text.c_str());
  else std::fprintf(stderr, "krt: %s: %s\n", kind, text.c_str());
}

// The library's log as the tool shows it: whole lines are collected; each warning or error
// line loses its time and level prefix ("2010-03-05 08:00:00|FSWarn ") and is said once.
struct LogFilter {
  std::string line;
  std::set<std::string> said;

  void take(const std::string& text) {
    const size_t bar = text.find('|');
    std::string rest = bar == std::string::npos ? text : text.substr(bar + 1);
    const char* kind = "warning";
    for (const char* level : {"FSWarn ", "FSError "}) {
      if (rest.compare(0, std::strlen(level), level) == 0) {
        if (level[2] == 'E') kind = "error";
        rest.erase(0, std::strlen(level));
      }
    }
    rest = with_units(rest);
    if (!rest.empty() && said.insert(rest).second) say(kind, rest);
  }

  // The disk layer's error lines ("disk access io error : disk 0, offset 1500,  error 2") in
  // words with their units; any other message as it is.
  static std::string with_units(const std::string& message) {
    int disk = 0, kind = 0;
    unsigned sector = 0;
    char what[16] = "";
    if (std::sscanf(message.c_str(), "disk access %15s error : disk %d, offset %u, error %d", what, &disk, &sector,
                    &kind) != 4)
      return message;
    const char* access = kind == krt::kDiskErrorWrite ? "write" : "read";
    return std::strcmp(what, "io") == 0
               ? concat({access, " error on disk ", std::to_string(disk), " at sector ", std::to_string(sector),
                         " (byte ", std::to_string(uint64_t(sector) * krt::kSectorBytes), ")"})
               : concat({access, " of disk ", std::to_string(disk), " at sector ", std::to_string(sector),
                         ", past its partition's data area"});
  }
};

LogFilter g_log_filter;

ssize_t filter_write(void*, const char* buf, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (buf[i] != '\n') {
      g_log_filter.line += buf[i];
      continue;
    }
    g_log_filter.take(g_log_filter.line);
    g_log_filter.line.clear();
  }
  return ssize_t(size);
}

}  // namespace

void set_json_errors(bool on) { g_json_errors = on; }

namespace {
std::vector<std::string> g_command_line;
}  // namespace

void set_command_line(int argc, char** argv) { g_command_line.assign(argv, argv + argc); }

const std::vector<std::string>& command_line() { return g_command_line; }

void route_library_log(bool verbose) {
  krt::set_log_verbose(verbose);
  if (verbose) {
    krt::set_log_stream(stderr);
    return;
  }
  static std::FILE* const filtered = [] {
    cookie_io_functions_t io{};
    io.write = filter_write;
    std::FILE* f = fopencookie(nullptr, "w", io);
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
  }();
  krt::set_log_stream(filtered ? filtered : stderr);
}

int finish_output(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return status;
  fail(concat({"cannot write to standard output: ", std::strerror(error ? error : EIO)}));
  return kExitFailed;
}

int fail(const std::string& message) {
  say("error", message);
  return kExitFailed;
}

int usage_error(const char* command, const std::string& message) {
  say("error", message);
  if (!g_json_errors) std::fprintf(stderr, "Run 'krt %s --help' for its usage.\n", command);
  return kExitUsage;
}

namespace {

// The start-up's progress line on a terminal: drawn once the start-up has taken a second.
std::chrono::steady_clock::time_point g_startup_began;
bool g_progress_drawn = false;

void draw_startup_progress(int disk, int percent) {
  if (std::chrono::steady_clock::now() - g_startup_began < std::chrono::seconds(1)) return;
  std::fprintf(stderr, "\rkrt: reading disk %d: %3d %%", disk, percent);
  std::fflush(stderr);
  g_progress_drawn = true;
}

std::vector<std::string> g_named;  // the -d images, each once

// Why a named image that was not attached cannot be used.
std::string unusable_reason(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? "no such file" : concat({"cannot be read: ", std::strerror(errno)});
  }
  if (S_ISDIR(st.st_mode)) return "is a folder, not a disk image";
  if (S_ISFIFO(st.st_mode)) return "is a FIFO, not a disk image (it is not read: that would wait for a writer)";
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return "is neither a file nor a block device";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return concat({"cannot be read: ", std::strerror(errno)});
  uint8_t sector0[krt::kSectorBytes];
  const ssize_t n = ::pread(fd, sector0, sizeof sector0, 0);
  ::close(fd);
  if (n == 0) return "is empty";
  if (n < 0) return concat({"cannot be read: ", std::strerror(errno)});
  if (n < ssize_t(sizeof sector0)) return concat({"holds only ", std::to_string(n), " bytes, less than a sector"});
  return "is not a recorder disk (its sector 0 does not start with \"KRT\")";
}

// Empty when an attached image of sectors is large enough to hold its partition table; else
// why it is not.
std::string too_small(uint64_t sectors) {
  if (sectors > krt::kPartitionTableSector) return "";
  return concat({"holds ", std::to_string(sectors * krt::kSectorBytes),
                 " bytes: too small for its partition table (sector ", std::to_string(krt::kPartitionTableSector), ")"});
}

bool refused_by_library(const std::string& path) {
  for (const krt::DiskRefusal& r : krt::disk_refusals()) {
    if (r.path == path) return true;
  }
  return false;
}

}  // namespace

void set_named_images(std::vector<std::string> images) {
  g_named.clear();
  std::set<std::string> seen;
  for (std::string& image : images) {
    char* real = ::realpath(image.c_str(), nullptr);
    const std::string key = real ? real : image;
    std::free(real);
    if (seen.insert(key).second) g_named.push_back(std::move(image));
  }
  if (g_named.empty()) return;
  krt::set_disk_sources({g_named, false, false, false});
}

bool named_images_usable() {
  krt::DiskInfo info{};
  const int n = krt::get_disk_info(&info);
  bool usable = true;
  for (const std::string& image : g_named) {
    int disk = -1;
    for (int d = 0; d < n && disk < 0; ++d) {
      if (krt::disk_source(d) == image) disk = d;
    }
    if (disk < 0 && refused_by_library(image)) {
      usable = false;  // the refusal was said as a warning already, with its segment
      continue;
    }
    const std::string reason = disk < 0 ? unusable_reason(image) : too_small(info.cap[disk]);
    if (reason.empty()) continue;
    fail(concat({image, ": ", reason}));
    usable = false;
  }
  return usable;
}

int attach_named_disks() {
  krt::attach_disks();
  return named_images_usable() ? krt::get_disk_info(nullptr) : -1;
}

bool bring_up_volume() {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  g_startup_began = std::chrono::steady_clock::now();
  g_progress_drawn = false;
  if (terminal) krt::set_startup_progress(draw_startup_progress);
  krt::volume_startup();
  krt::set_startup_progress(nullptr);
  if (g_progress_drawn) std::fprintf(stderr, "\r\033[K");
  if (!named_images_usable()) return false;
  if (krt::get_disk_info(nullptr) > 0) return true;
  fail("no recorder disk found");
  return false;
}

bool require_mounted_partition() {
  {
    std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
    for (int i = 0; i < krt::kMaxDrivers; ++i) {
      if (krt::driver_in_use(*krt::driver_slot(i))) return true;
    }
  }
  fail("no partition could be mounted (krt info says why)");
  return false;
}

namespace {

int64_t g_all_disks_offset = 0;              // --clock-offset ±HH:MM:SS
bool g_all_disks_offset_given = false;
std::map<int, int64_t> g_disk_offsets;       // --clock-offset D=±HH:MM:SS

}  // namespace

void set_clock_offset(int disk, int64_t seconds) {
  if (disk < 0) {
    g_all_disks_offset = seconds;
    g_all_disks_offset_given = true;
  } else {
    g_disk_offsets[disk] = seconds;
  }
}

std::string clock_offsets_json() {
  const auto quoted = [](int64_t seconds) { return "\"" + format_clock_offset(seconds) + "\""; };
  if (g_disk_offsets.empty()) return g_all_disks_offset_given ? quoted(g_all_disks_offset) : std::string();
  std::string json = "{";
  if (g_all_disks_offset_given) json += "\"all\":" + quoted(g_all_disks_offset);
  for (const auto& [disk, seconds] : g_disk_offsets)
    json += (json.size() > 1 ? ",\"" : "\"") + std::to_string(disk) + "\":" + quoted(seconds);
  return json + "}";
}

int64_t clock_offset_of(int disk) {
  const auto it = g_disk_offsets.find(disk);
  return it != g_disk_offsets.end() ? it->second : g_all_disks_offset;
}
