// Helpers shared by the library's tests: temporary image files and a clean library state.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "krt/cache.h"
#include "krt/disk.h"
#include "krt/disk_io.h"
#include "krt/driver.h"
#include "krt/log.h"
#include "krt/readahead.h"
#include "krt_testing/hostile_disk.h"

namespace krt::test {

// A sparse temporary image file, removed when the object goes.
class TempImage {
 public:
  explicit TempImage(uint64_t sectors) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/krt-test-XXXXXX";
    const int fd = ::mkstemp(path_.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, off_t(sectors * kSectorBytes)), 0);
    ::close(fd);
  }
  ~TempImage() { ::unlink(path_.c_str()); }
  TempImage(const TempImage&) = delete;
  TempImage& operator=(const TempImage&) = delete;

  const std::string& path() const { return path_; }

  // Writes bytes at sector (and byte offset inside it) of the image.
  void write(uint64_t sector, const void* bytes, size_t size, size_t offset = 0) const {
    const int fd = ::open(path_.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, bytes, size, off_t(sector * kSectorBytes + offset)), ssize_t(size));
    ::close(fd);
  }

  // Makes sector 0 start with the recorder tag.
  void tag_krt() const { write(0, "KRT0.4", 7); }

  // The whole file's bytes.
  std::string contents() const {
    std::string out;
    const int fd = ::open(path_.c_str(), O_RDONLY);
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(fd);
    return out;
  }

 private:
  std::string path_;
};

// Attaches exactly the given images (no environment, program folder or block devices).
using krt_testing::attach_only;

// Puts the library back into its start-up state before each test, and detaches after.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_disk_hooks(default_disk_hooks());
    set_readahead(true);
    set_event_hook(nullptr);
    set_log_stream(nullptr);
    reset_log_line();
    detach_disks();
    binit();
    reset_driver_table();
    clear_disk_error_report();
    init_access_stamps();
  }
  void TearDown() override {
    EXPECT_EQ(cache_check(), "");
    set_disk_hooks(default_disk_hooks());
    set_event_hook(nullptr);
    set_log_stream(nullptr);
    detach_disks();
  }
};

// Records the library's events, each as "name text".
class EventRecorder {
 public:
  // Clears the record and installs the recorder as the event hook.
  static void install() {
    events().clear();
    set_event_hook(record);
  }
  static std::vector<std::string>& events() {
    static std::vector<std::string> e;
    return e;
  }

 private:
  static void record(const char* name, const char* text) { events().push_back(std::string(name) + " " + text); }
};

// Captures the library log into a string.
class LogCapture {
 public:
  LogCapture() : stream_(::open_memstream(&buf_, &size_)) { set_log_stream(stream_); }
  ~LogCapture() {
    set_log_stream(nullptr);
    std::fclose(stream_);
    std::free(buf_);
  }
  std::string text() {
    std::fflush(stream_);
    return std::string(buf_, size_);
  }

 private:
  char* buf_ = nullptr;
  size_t size_ = 0;
  std::FILE* stream_;
};

}  // namespace krt::test
