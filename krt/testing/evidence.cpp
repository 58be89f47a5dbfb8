// Split raw copies and E01 sets of test images.
#include "krt_testing/evidence.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

extern char** environ;

namespace krt_testing {
namespace {

constexpr size_t kBlock = 1 << 20;

// Copies bytes from in at offset into a new file out, leaving holes for blocks of zeros.
bool copy_range(int in, uint64_t offset, uint64_t bytes, const std::string& out) {
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::vector<char> buf(kBlock);
  bool ok = ::ftruncate(fd, off_t(bytes)) == 0;
  for (uint64_t done = 0; ok && done < bytes;) {
    const size_t n = size_t(std::min<uint64_t>(kBlock, bytes - done));
    ok = ::pread(in, buf.data(), n, off_t(offset + done)) == ssize_t(n);
    const bool zeros = ok && std::all_of(buf.begin(), buf.begin() + ssize_t(n), [](char c) { return c == 0; });
    if (ok && !zeros) ok = ::pwrite(fd, buf.data(), n, off_t(done)) == ssize_t(n);
    done += n;
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

std::vector<std::string> split_image(const std::string& source, const std::string& stem, int parts) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0 || parts < 1) return {};
  struct stat st {};
  ::fstat(in, &st);
  const uint64_t size = uint64_t(st.st_size);
  const uint64_t part = size / uint64_t(parts) / 512 * 512;
  std::vector<std::string> out;
  for (int i = 0; i < parts; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%03d", i + 1);
    const uint64_t start = part * uint64_t(i);
    const uint64_t bytes = i + 1 == parts ? size - start : part;
    out.push_back(stem + suffix);
    if (!copy_range(in, start, bytes, out.back())) {
      ::close(in);
      return {};
    }
  }
  ::close(in);
  return out;
}

std::string make_e01(const std::string& source, const std::string& stem, uint64_t segment_bytes) {
  const std::string segment = std::to_string(std::max<uint64_t>(segment_bytes, 1 << 20));
  std::vector<std::string> args = {"ewfacquire", "-u", "-q", "-c", "empty-block", "-S", segment,
                                   "-t", stem, source};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, "ewfacquire", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return "ewfacquire is not installed";
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "ewfacquire failed on " + source;
  return e01_segments(stem).empty() ? "ewfacquire wrote no " + stem + ".E01" : "";
}

std::vector<std::string> e01_segments(const std::string& stem) {
  std::vector<std::string> out;
  for (int i = 1; i <= 99; ++i) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".E%02d", i);
    std::error_code ec;
    if (!std::filesystem::exists(stem + suffix, ec)) break;
    out.push_back(stem + suffix);
  }
  return out;
}

}  // namespace krt_testing
